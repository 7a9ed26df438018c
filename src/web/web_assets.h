#pragma once

namespace orvane {

// The web view's page, script and style sheet, served by Orvane itself (no outside assets).
// The page holds no script of its own: the policy the server sends forbids inline script.
extern const char* const kWebIndexHtml;
extern const char* const kWebAppJs;
extern const char* const kWebStyleCss;

}  // namespace orvane
