#include "cli/station/screen/page_files.h"

#include <cstddef>

namespace morvane::cli {

namespace page {
extern const char index_html[];
extern const std::size_t index_html_size;
extern const char screen_js[];
extern const std::size_t screen_js_size;
extern const char screen_css[];
extern const std::size_t screen_css_size;
}  // namespace page

std::optional<PageFile> PageFileOf(ScreenResource resource) {
    switch (resource) {
        case ScreenResource::Page:
            return PageFile{{page::index_html, page::index_html_size}, "text/html; charset=utf-8"};
        case ScreenResource::Script:
            return PageFile{{page::screen_js, page::screen_js_size}, "text/javascript; charset=utf-8"};
        case ScreenResource::Style:
            return PageFile{{page::screen_css, page::screen_css_size}, "text/css; charset=utf-8"};
        case ScreenResource::State:
        case ScreenResource::Events: break;
    }
    return std::nullopt;
}

}  // namespace morvane::cli
