#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "config/errors.h"
#include "platform/files.h"

namespace qm {

// Longest value a read gives back, in bytes; a longer value is cut at the last
// UTF-8 character boundary at or before this length.
inline constexpr std::size_t kIniMaxValueBytes = 2047;

// One key line to write: name and value.
using TIniKey = std::pair<std::string, std::string>;

// A profile (INI) file: "[section]" lines open sections, "key=value" lines
// follow. The file is read once, at construction; edits work on the text in
// memory and UpdateFile writes it back in one atomic replace.
//
// Reading rules: section and key names match without regard to ASCII letter
// case; blanks around a line, a key name and a value are ignored; lines
// starting with ";" are comments; a line without "=" in a section is a key with
// no value; the first section of a name and the first key of a name in it are
// the ones that count. A section exists only while it holds at least one key.
// Lines end with "\n" or "\r\n".
//
// Editing keeps every line outside the edited section or key byte for byte.
// New lines end with "\n".
class TIniFile {
public:
    // Reads the file; a missing or unreadable file reads as empty. Never throws
    // for reasons of the file.
    explicit TIniFile(std::string path);
    // A file of this path with no text, to be written anew; the file on disk
    // is not read.
    static TIniFile Empty(std::string path);

    const std::string& FileName() const { return path_; }
    // The current text, edits included.
    std::string Text() const;

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;

    // The key's value without its surrounding blanks, cut to kIniMaxValueBytes;
    // nothing when the key is missing or its line has no "=".
    std::optional<std::string> ReadValue(const std::string& section, const std::string& key) const;
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // Decimal with an optional sign, or hexadecimal after "0x"/"0X" (up to 32
    // bits, taken as a signed pattern); anything else, or a missing key, gives
    // def.
    std::int32_t ReadInteger(const std::string& section, const std::string& key,
                             std::int32_t def) const;
    // An integer that is not 0.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;

    // Sets one key: its line is replaced in place, or a new line is added after
    // the section's last key, or a new section is appended at the end of the
    // file. Throws EIniFileError for a name or value that the file form cannot
    // hold (a line break, a NUL byte, a key with "=" or a section with "]").
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // Erases the section's header and key lines, with any comment among them,
    // and writes the header and these keys at the same place; blank and comment
    // lines after its last key stay, since they belong to what follows. A
    // missing section is appended at the end of the file. Throws as
    // WriteString.
    void ReplaceSection(const std::string& section, const std::vector<TIniKey>& keys);

    // Writes the text back: a reader or a crash sees the old file or the new
    // one, never a part (platform::ReplaceFileAtomically: through a symbolic
    // link, owner kept, permission bits as mode and rule say). Throws
    // EIniFileError("Unable to write to <path>") when the file existed but
    // could not be read (its text would be lost; anything but a regular file
    // counts so), is not writable, or cannot be replaced.
    void UpdateFile(unsigned mode = 0644,
                    platform::ModeRule rule = platform::ModeRule::KeepExisting) const;

private:
    TIniFile() = default;

    enum class LineKind { Blank, Comment, Section, Key };
    struct Line {
        std::string raw;  // the bytes of the line, its end of line included
        LineKind kind = LineKind::Blank;
        std::string name;   // section or key name, lowercased for matching
        std::string value;  // key value, blanks removed
        bool hasValue = false;
    };
    struct SectionSpan {
        std::size_t header;  // index of the header line
        std::size_t end;     // one past its last line
    };

    static Line ParseLine(std::string raw, bool first);
    void Reindex();
    const SectionSpan* FindSection(const std::string& section) const;
    const Line* FindKey(const SectionSpan& span, const std::string& key) const;
    std::size_t LastKeyLine(const SectionSpan& span) const;
    void CheckWritable(const std::string& section, const std::string& key,
                       const std::string& value) const;
    void EndLastLine();
    static std::string NewLine(const std::string& text);

    std::string path_;
    bool unreadable_ = false;
    bool utf8_ = false;  // the file began with a UTF-8 byte order mark
    std::vector<Line> lines_;
    std::vector<SectionSpan> sections_;
    std::unordered_map<std::string, std::size_t> firstSection_;  // lowercased name → sections_
};

}  // namespace qm
