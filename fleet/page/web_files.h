// The station page's own files (fleet/web/: its HTML, CSS and script), built into the program by
// cmake/embed_files.cmake: the page needs no file and no network at run time.
#pragma once

#include <string_view>
#include <vector>

namespace fleet {

struct EmbeddedFile {
    std::string_view name;  // "live.js", without a folder
    std::string_view bytes;
};

// Every file of the page (made at build time).
const std::vector<EmbeddedFile>& web_files();

// The page's file of that name; none for any other name.
const EmbeddedFile* web_file(std::string_view name);

// The Content-Type a file is served with, by its extension: "text/html; charset=utf-8", ...
std::string_view content_type(std::string_view name);

}  // namespace fleet
