#pragma once

#include <string>
#include <vector>

namespace orvane {

// The upgrade-folder box: the history of folders (oldest first), the selected entry and the
// text of its edit field, which may hold a folder typed by hand that is in no entry.
class FolderHistory {
  public:
    static constexpr int kMaxEntries = 10;

    const std::vector<std::string>& Entries() const { return m_vecEntries; }
    int SelectedIndex() const { return m_iSelected; }
    const std::string& Text() const { return m_szText; }

    // Appends an entry without selecting it (filling the box from Config.ini).
    void Add(const std::string& folder);
    // Selects entry `index` and shows its text; an index that is no entry selects nothing
    // and empties the text.
    void Select(int index);
    // A folder typed into the edit field: no entry is selected.
    void SetText(const std::string& text);

    // A folder chosen in the picker: an equal entry among the first ten (exact letter case)
    // is selected; otherwise the folder becomes the last entry, the oldest goes when ten or
    // more were there, and the new entry is selected.
    void Browse(const std::string& folder);

    // Before saving: more than ten entries lose the oldest one (a single one; the saved value
    // holds the first ten). The selection follows its entry, or is lost with it.
    void DropOldestBeyondLimit();

    // The saved value of `Path`: the first ten entries joined by "|".
    std::string PathValue() const;

  private:
    std::vector<std::string> m_vecEntries;
    int m_iSelected = -1;
    std::string m_szText;
};

}  // namespace orvane
