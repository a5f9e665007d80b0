# Writes FILE.sha256 beside FILE in the format `sha256sum -c` reads: the hash,
# two spaces, the file's name (no folder, so the check runs where both lie).
#   cmake -DFILE=path/to/file -P sha256-file.cmake
file(SHA256 "${FILE}" hash)
get_filename_component(name "${FILE}" NAME)
file(WRITE "${FILE}.sha256" "${hash}  ${name}\n")
