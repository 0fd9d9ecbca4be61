// Peloria's extension: one context-menu item on pictures and on links to
// pictures, which hands the picture to Peloria through its native messaging
// host. For a web picture only its address and the page's address are sent:
// Peloria finds the copy the browser already has in its disk cache (or, when
// there is none, downloads it with the page as Referer). Pictures that live
// only in the page (data: and blob: addresses) are read there and their bytes
// are sent. Nothing is sent anywhere but to Peloria's host on this computer.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;

const HOST_NAME = "peloria";
const MENU_ID = "peloria-show";

// Addresses whose path ends like a picture file; a link to one of them opens
// the linked picture (a thumbnail linking to the full photo).
const PICTURE_PATH =
  /\.(jpe?g|jpe|jfif|png|webp|gif|bmp|dib|ico|heic|heif|avif|tiff?|jxl|wmf|emf)$/i;

function isPictureAddress(address) {
  try {
    const url = new URL(address);
    return (url.protocol === "http:" || url.protocol === "https:") &&
      PICTURE_PATH.test(url.pathname);
  } catch {
    return false;
  }
}

function isInPage(address) {
  return /^(data|blob):/i.test(address);
}

// Runs in the page (or the frame) that shows the picture: the address of the
// picture it actually shows (an <img> with srcset shows one of its
// candidates, its currentSrc), and for data: and blob: pictures their bytes
// in base64, read from the page's own copy.
async function readPictureInPage(srcUrl) {
  const img = Array.from(document.images).find(
    (candidate) => candidate.currentSrc === srcUrl || candidate.src === srcUrl);
  const address = img ? img.currentSrc || img.src : srcUrl;
  if (!/^(data|blob):/i.test(address)) return { address };
  try {
    const reply = await fetch(address);
    if (!reply.ok) throw new Error(String(reply.status));
    const blob = await reply.blob();
    // Read as a data: address, whose text part is the base64 wanted: plain
    // text crosses from the page to the extension in every browser, where
    // an array of the page's bytes may not.
    const dataAddress = await new Promise((resolve, reject) => {
      const reader = new FileReader();
      reader.onload = () => resolve(reader.result);
      reader.onerror = () => reject(reader.error);
      reader.readAsDataURL(blob);
    });
    return { address, picture: dataAddress.slice(dataAddress.indexOf(",") + 1) };
  } catch (failure) {
    return { address, failure: String(failure && failure.message || failure) };
  }
}

// The bytes at `address` (a data: address) in base64.
async function bytesOf(address) {
  const bytes = new Uint8Array(await (await fetch(address)).arrayBuffer());
  let text = "";
  for (let i = 0; i < bytes.length; i += 0x8000) {
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  }
  return btoa(text);
}

// What the page says of the picture at `srcUrl`; none when the page cannot
// be asked (a browser page, a frame that has gone).
async function askPage(srcUrl, tab, frameId) {
  if (!tab || tab.id === undefined || tab.id < 0) return null;
  try {
    const [result] = await api.scripting.executeScript({
      target: { tabId: tab.id, frameIds: [frameId ?? 0] },
      func: readPictureInPage,
      args: [srcUrl],
    });
    return result ? result.result : null;
  } catch {
    return null;
  }
}

function notify(text) {
  return api.notifications.create({
    type: "basic",
    iconUrl: api.runtime.getURL("icons/peloria-48.png"),
    title: "Peloria",
    message: text,
  });
}

// A message of the browser that means no host of this name is registered
// (or may be started by this extension).
function isMissingHost(message) {
  return /not found|no such native application|forbidden|not allowed/i.test(message);
}

// The click's work: `info` is shaped like the context menu's click data
// (srcUrl, linkUrl, pageUrl, frameUrl, frameId), `tab` the tab clicked in.
// Answers {ok: true} or {ok: false, error}, after telling the user of a
// failure in a notification.
async function openInPeloria(info, tab) {
  const fail = async (error) => {
    await notify(error);
    return { ok: false, error };
  };
  const page = info.frameUrl || info.pageUrl || (tab && tab.url) || "";
  const message = { page };
  if (info.linkUrl && isPictureAddress(info.linkUrl)) {
    message.address = info.linkUrl;
  } else if (info.srcUrl) {
    const seen = await askPage(info.srcUrl, tab, info.frameId);
    message.address = seen ? seen.address : info.srcUrl;
    if (seen && seen.failure) {
      return fail(api.i18n.getMessage("pictureUnreadable", [seen.failure]));
    }
    if (seen && seen.picture !== undefined) message.picture = seen.picture;
    // A data: address holds its bytes itself, even where the page cannot be
    // asked.
    if (/^data:/i.test(message.address) && message.picture === undefined) {
      try {
        message.picture = await bytesOf(message.address);
      } catch {
        // told below
      }
    }
    if (isInPage(message.address) && message.picture === undefined) {
      return fail(api.i18n.getMessage("pictureUnreadable", [message.address.slice(0, 40)]));
    }
  } else if (info.linkUrl) {
    message.address = info.linkUrl;
  } else {
    return fail(api.i18n.getMessage("noPicture"));
  }

  let reply;
  try {
    reply = await api.runtime.sendNativeMessage(HOST_NAME, message);
  } catch (failure) {
    const text = String(failure && failure.message || failure);
    return fail(api.i18n.getMessage(isMissingHost(text) ? "hostMissing" : "hostFailed", [text]));
  }
  if (!reply || reply.ok !== true) {
    return fail(api.i18n.getMessage("hostFailed", [reply && reply.error || String(reply)]));
  }
  return { ok: true };
}
globalThis.openInPeloria = openInPeloria;

function createMenu() {
  api.contextMenus.removeAll(() => {
    api.contextMenus.create({
      id: MENU_ID,
      title: api.i18n.getMessage("menuTitle"),
      contexts: ["image", "link"],
    });
  });
}

api.runtime.onInstalled.addListener(createMenu);
// Firefox keeps menus only for the life of its background page.
if (api.runtime.getBrowserInfo) api.runtime.onStartup.addListener(createMenu);

api.contextMenus.onClicked.addListener((info, tab) => {
  if (info.menuItemId === MENU_ID) openInPeloria(info, tab);
});
