# Installing the browser side of Peloria: the native messaging host, the
# browsers' manifests for it, and the extension itself. Included by
# app/install.cmake, which sets up the components:
#   portable  peloria-host beside peloria and the unpacked extension in
#             browser-extension/ (for "Load unpacked" or an add-on file);
#             `peloria-host --register` then writes the user's manifests
#   system    the Debian package: the host in /usr/lib/peloria/, its
#             manifests where Firefox, Chromium and Google Chrome look for
#             system-wide hosts, and the unpacked extension where Debian's
#             firefox-esr and chromium load extensions from

set(_extension_dir ${PROJECT_SOURCE_DIR}/browser)
set(_extension_files
    ${_extension_dir}/manifest.json ${_extension_dir}/background.js)
set(_extension_folders ${_extension_dir}/_locales ${_extension_dir}/icons)

install(TARGETS peloria_host_program RUNTIME DESTINATION . COMPONENT portable)
install(FILES ${_extension_files} DESTINATION browser-extension COMPONENT portable)
install(DIRECTORY ${_extension_folders} DESTINATION browser-extension COMPONENT portable)

# The package's host manifests name the installed host by its path.
set(_host_path /usr/lib/peloria/peloria-host)
set(_manifest_head "{\n  \"name\": \"${PELORIA_HOST_NAME}\",\n  \"description\": \"Peloria: shows a picture's shooting data\",\n  \"path\": \"${_host_path}\",\n  \"type\": \"stdio\",\n")
set(_package_dir ${CMAKE_BINARY_DIR}/host/package)
file(WRITE ${_package_dir}/firefox/${PELORIA_HOST_NAME}.json
     "${_manifest_head}  \"allowed_extensions\": [\"${PELORIA_GECKO_ID}\"]\n}\n")
file(WRITE ${_package_dir}/chromium/${PELORIA_HOST_NAME}.json
     "${_manifest_head}  \"allowed_origins\": [\"chrome-extension://${PELORIA_CHROMIUM_ID}/\"]\n}\n")

install(TARGETS peloria_host_program RUNTIME DESTINATION lib/peloria COMPONENT system
        EXCLUDE_FROM_ALL)
install(FILES ${_package_dir}/firefox/${PELORIA_HOST_NAME}.json
        DESTINATION lib/mozilla/native-messaging-hosts COMPONENT system EXCLUDE_FROM_ALL)
foreach(_chromium_hosts /etc/chromium/native-messaging-hosts /etc/opt/chrome/native-messaging-hosts)
  install(FILES ${_package_dir}/chromium/${PELORIA_HOST_NAME}.json DESTINATION ${_chromium_hosts}
          COMPONENT system EXCLUDE_FROM_ALL)
endforeach()
# Files in /etc are the administrator's: dpkg keeps their changes.
file(WRITE ${_package_dir}/conffiles
     "/etc/chromium/native-messaging-hosts/${PELORIA_HOST_NAME}.json\n/etc/opt/chrome/native-messaging-hosts/${PELORIA_HOST_NAME}.json\n")
set(PELORIA_PACKAGE_CONTROL_EXTRA ${_package_dir}/conffiles)

# Debian's chromium loads every unpacked extension in its extensions folder;
# firefox-esr loads the ones in the application's folder of the system-wide
# extensions, named by the add-on's ID.
foreach(_extension_target share/chromium/extensions/peloria
        "share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/${PELORIA_GECKO_ID}")
  install(FILES ${_extension_files} DESTINATION ${_extension_target} COMPONENT system
          EXCLUDE_FROM_ALL)
  install(DIRECTORY ${_extension_folders} DESTINATION ${_extension_target} COMPONENT system
          EXCLUDE_FROM_ALL)
endforeach()

# Building the program builds its host, so that an installation has both.
add_dependencies(peloria peloria_host_program)
