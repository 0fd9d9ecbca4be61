// Follows the boxes of a HEIF file from the primary item to its data: the
// primary item's number ("pitm"), its type ("iinf"), where its data lies
// ("iloc": in the file or in the "idat" box), and from that data the
// canvas size of a grid or overlay header; and how many items and tiles the
// file declares.
#include "picture/heif_canvas.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "picture/decoder_support.h"
#include "picture/picture_limits.h"
#include "platform/bytes.h"

namespace peloria {

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint32_t FourCc(const char (&name)[5]) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[0])) << 24 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[1])) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[2])) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[3]));
}

// Big-endian fields read in turn. A read past the end, or of a width other
// than 0, 1, 2, 4 or 8 bytes (the box layouts use no other; an "iloc" box's
// field sizes are 0, 4 or 8), gives 0 and leaves the reader broken, so a
// loop over a count a file declares ends at the file's end.
class TFields {
 public:
  explicit TFields(Bytes bytes) : bytes_(bytes) {}

  std::uint64_t Read(std::size_t size) {
    std::optional<std::uint64_t> value;
    switch (size) {
      case 0:
        value = 0;
        break;
      case 1:
        value = ReadUnsigned<std::uint8_t>(bytes_, at_, ByteOrder::kBig);
        break;
      case 2:
        value = U16Be(bytes_, at_);
        break;
      case 4:
        value = U32Be(bytes_, at_);
        break;
      case 8:
        value = U64Be(bytes_, at_);
        break;
      default:
        break;
    }
    if (!value) {
      broken_ = true;
      at_ = bytes_.size();
      return 0;
    }
    at_ += size;
    return *value;
  }
  std::uint32_t U8() { return static_cast<std::uint32_t>(Read(1)); }
  std::uint32_t U16() { return static_cast<std::uint32_t>(Read(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Read(4)); }
  // A full box's version; its 24 bits of flags are skipped.
  std::uint32_t Version() {
    const std::uint32_t version = U8();
    Read(1);
    Read(2);
    return version;
  }
  bool Broken() const { return broken_; }
  Bytes Rest() const { return bytes_.subspan(at_); }

 private:
  Bytes bytes_;
  std::size_t at_ = 0;
  bool broken_ = false;
};

struct TBox {
  std::uint32_t type = 0;
  Bytes payload;
};

// The boxes laid one after another in `bytes`, up to the first that does
// not fit.
std::vector<TBox> Boxes(Bytes bytes) {
  std::vector<TBox> boxes;
  while (!bytes.empty()) {
    TFields fields(bytes);
    std::uint64_t size = fields.U32();
    const std::uint32_t type = fields.U32();
    std::size_t header = 8;
    if (size == 1) {
      size = fields.Read(8);
      header = 16;
    } else if (size == 0) {
      size = bytes.size();  // to the end
    }
    if (fields.Broken() || size < header || size > bytes.size()) break;
    boxes.push_back({type, bytes.subspan(header, static_cast<std::size_t>(size) - header)});
    bytes = bytes.subspan(static_cast<std::size_t>(size));
  }
  return boxes;
}

const TBox* Find(const std::vector<TBox>& boxes, std::uint32_t type) {
  for (const TBox& box : boxes) {
    if (box.type == type) return &box;
  }
  return nullptr;
}

std::uint32_t PrimaryItem(Bytes pitm) {
  TFields fields(pitm);
  return fields.Version() == 0 ? fields.U16() : fields.U32();
}

// The type of item `id` from its "infe" entry (versions 2 and 3 name it);
// 0 when none names it.
std::uint32_t ItemType(Bytes iinf, std::uint32_t id) {
  TFields fields(iinf);
  fields.Read(fields.Version() == 0 ? 2 : 4);  // the entry count
  for (const TBox& entry : Boxes(fields.Rest())) {
    if (entry.type != FourCc("infe")) continue;
    TFields infe(entry.payload);
    const std::uint32_t version = infe.Version();
    if (version < 2) continue;
    const std::uint32_t item = version == 2 ? infe.U16() : infe.U32();
    infe.U16();  // protection index
    const std::uint32_t type = infe.U32();
    if (item == id && !infe.Broken()) return type;
  }
  return 0;
}

// The first extent of item `id`'s data, in the file or in "idat"; nothing
// when "iloc" does not place it within them.
std::optional<Bytes> ItemData(Bytes iloc, std::uint32_t id, Bytes file, Bytes idat) {
  TFields fields(iloc);
  const std::uint32_t version = fields.Version();
  const std::uint32_t sizes = fields.U8();
  const std::uint32_t moreSizes = fields.U8();
  const std::size_t offsetSize = sizes >> 4;
  const std::size_t lengthSize = sizes & 15;
  const std::size_t baseSize = moreSizes >> 4;
  const bool methods = version == 1 || version == 2;
  const std::size_t indexSize = methods ? moreSizes & 15 : 0;
  const std::uint32_t items = version < 2 ? fields.U16() : fields.U32();
  for (std::uint32_t i = 0; i < items && !fields.Broken(); ++i) {
    const std::uint32_t item = version < 2 ? fields.U16() : fields.U32();
    const std::uint32_t method = methods ? fields.U16() & 15 : 0;
    fields.U16();  // data reference index
    const std::uint64_t base = fields.Read(baseSize);
    const std::uint32_t extents = fields.U16();
    for (std::uint32_t e = 0; e < extents && !fields.Broken(); ++e) {
      fields.Read(indexSize);
      const std::uint64_t offset = fields.Read(offsetSize);
      const std::uint64_t length = fields.Read(lengthSize);
      if (item != id || e != 0 || fields.Broken()) continue;
      const Bytes source = method == 0 ? file : method == 1 ? idat : Bytes{};
      if (method > 1 || base > source.size() || offset > source.size() - base) return {};
      const std::size_t start = static_cast<std::size_t>(base + offset);
      const std::uint64_t available = source.size() - start;
      if (length > available) return {};
      return source.subspan(start, length == 0 ? available : static_cast<std::size_t>(length));
    }
  }
  return {};
}

// The boxes inside the top-level "meta" box; none without one.
std::vector<TBox> MetaBoxes(Bytes file) {
  const std::vector<TBox> top = Boxes(file);
  const TBox* meta = Find(top, FourCc("meta"));
  if (meta == nullptr || meta->payload.size() < 4) return {};
  return Boxes(meta->payload.subspan(4));
}

// The entries "iloc" declares, as far as its bytes hold them: each entry
// is at least an item number, a data reference and an extent count.
std::uint64_t LocatedItems(Bytes iloc) {
  TFields fields(iloc);
  const std::uint32_t version = fields.Version();
  fields.Read(2);  // field sizes
  const std::uint64_t items = version < 2 ? fields.U16() : fields.U32();
  const std::size_t entryBytes = version < 2 ? 6 : 8;
  return std::min<std::uint64_t>(items, fields.Rest().size() / entryBytes);
}

}  // namespace

void CheckHeifItems(Bytes file) {
  const std::vector<TBox> boxes = MetaBoxes(file);
  std::uint64_t items = 0;
  if (const TBox* iinf = Find(boxes, FourCc("iinf"))) {
    TFields fields(iinf->payload);
    fields.Read(fields.Version() == 0 ? 2 : 4);  // the entry count
    for (const TBox& entry : Boxes(fields.Rest())) items += entry.type == FourCc("infe") ? 1 : 0;
  }
  if (const TBox* iloc = Find(boxes, FourCc("iloc"))) {
    items = std::max(items, LocatedItems(iloc->payload));
  }
  if (items > static_cast<std::uint64_t>(kMaxHeifItems)) {
    InvalidImage("HEIF", "the file declares " + std::to_string(items) + " items, more than " +
                             std::to_string(kMaxHeifItems));
  }
  std::uint64_t tiles = 0;
  try {
    if (const std::optional<THeifCanvas> canvas = DerivedCanvas(file)) tiles = canvas->tiles;
  } catch (const EInvalidGraphic&) {
    // A broken grid header is the decoder's to refuse; libheif reads no
    // tiles of it.
  }
  if (tiles > static_cast<std::uint64_t>(kMaxHeifGridTiles)) {
    InvalidImage("HEIF", "the grid has " + std::to_string(tiles) + " tiles, more than " +
                             std::to_string(kMaxHeifGridTiles));
  }
}

std::optional<THeifCanvas> DerivedCanvas(Bytes file) {
  const std::vector<TBox> boxes = MetaBoxes(file);
  const TBox* pitm = Find(boxes, FourCc("pitm"));
  const TBox* iinf = Find(boxes, FourCc("iinf"));
  const TBox* iloc = Find(boxes, FourCc("iloc"));
  const TBox* idat = Find(boxes, FourCc("idat"));
  if (pitm == nullptr || iinf == nullptr || iloc == nullptr) return {};
  const std::uint32_t primary = PrimaryItem(pitm->payload);
  const std::uint32_t type = ItemType(iinf->payload, primary);
  if (type != FourCc("grid") && type != FourCc("iovl")) return {};

  // A derived picture whose header cannot be read here is refused: libheif
  // might still read one (from several extents, say) and allocate the
  // canvas it asks for unchecked.
  const std::optional<Bytes> header =
      ItemData(iloc->payload, primary, file, idat != nullptr ? idat->payload : Bytes{});
  if (!header) InvalidImage("HEIF", "the grid or overlay header is missing");
  TFields fields(*header);
  fields.U8();  // version
  const std::uint32_t flags = fields.U8();
  // A grid gives its rows and columns less one, an overlay its fill colour,
  // before the canvas size (32-bit numbers when flag 1 is set, else 16-bit).
  THeifCanvas canvas;
  if (type == FourCc("grid")) {
    const std::uint32_t rows = fields.U8() + 1;
    canvas.tiles = std::uint64_t{rows} * (fields.U8() + 1);
  } else {
    fields.Read(8);
  }
  const std::size_t size = (flags & 1) != 0 ? 4 : 2;
  canvas.width = static_cast<std::uint32_t>(fields.Read(size));
  canvas.height = static_cast<std::uint32_t>(fields.Read(size));
  if (fields.Broken()) InvalidImage("HEIF", "the grid or overlay header is cut off");
  if (canvas.width == 0 || canvas.height == 0) InvalidImage("HEIF", "the grid or overlay is empty");
  return canvas;
}

}  // namespace peloria
