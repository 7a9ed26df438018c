#pragma once

namespace orvane {

// Ids of the user-interface texts (LoadText); the texts beside them are in
// string_table_texts.h. Code names a text only through these.
enum TextId : int {
#define ORVANE_TEXT(name, id, chinese, english) name = id,
#include "support/string_table_texts.h"
#undef ORVANE_TEXT
};

}  // namespace orvane
