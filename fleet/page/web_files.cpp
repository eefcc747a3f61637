#include "page/web_files.h"

namespace fleet {

const EmbeddedFile* web_file(std::string_view name) {
    for (const EmbeddedFile& file : web_files()) {
        if (file.name == name) {
            return &file;
        }
    }
    return nullptr;
}

std::string_view content_type(std::string_view name) {
    const struct {
        std::string_view extension;
        std::string_view type;
    } types[] = {
        {".html", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".svg", "image/svg+xml"},
    };
    for (const auto& entry : types) {
        if (name.ends_with(entry.extension)) {
            return entry.type;
        }
    }
    return "application/octet-stream";
}

}  // namespace fleet
