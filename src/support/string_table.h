#pragma once

namespace orvane {

// The text of string id `id` in `language` (1 Chinese, 2 English), or null when there is none.
const char* LookupStringTable(int language, int id);

}  // namespace orvane
