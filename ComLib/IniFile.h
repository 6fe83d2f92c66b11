#pragma once

#include <map>
#include <string>
#include <vector>

namespace comlib
{

// Reads and rewrites the program's INI files (Config.ini). Reading keeps only entries whose section,
// key and value are all non-empty; writing puts out a UTF-8 byte-order mark, the sections and keys in
// ascending order and CR LF line ends, so whatever the reader did not keep is dropped.
class IniFile
{
public:
    struct Entry
    {
        std::string section;
        std::string key;
        std::string value;
    };

    IniFile() = default;
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // False when the file cannot be read or is not INI text (UTF-16, binary); Error() tells why. A
    // file that exists but could not be read is never written over by this object.
    bool Load(const std::string& path);
    std::string Value(const std::string& section, const std::string& key) const;
    std::string Value(const std::string& section, const std::string& key, const std::string& def) const;
    void Set(const std::string& section, const std::string& key, const std::string& value);
    // Replaces the file whole (temporary file and rename), so a crash or a full disk leaves the old
    // one; -1 when that fails or the file is the one Load could not read.
    int Save(const std::string& path);

    const std::vector<Entry>& Entries() const { return m_entries; }
    bool IsChanged() const { return m_changed; }
    // Why the last Load failed; empty after a successful one.
    const std::string& Error() const { return m_error; }
    // The last Load found a file that it could not read: it is kept as it is.
    bool IsUnreadable() const { return m_unreadable; }

    static std::string ReadString(const std::string& section, const std::string& key, const std::string& def,
                                  const std::string& path);
    // False, leaving the file alone, when it exists but cannot be read, or when it cannot be written.
    static bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                            const std::string& path);

private:
    std::map<std::string, std::map<std::string, std::string>> m_sections;
    std::vector<Entry> m_entries;
    std::string m_path;
    std::string m_error;
    bool m_changed = false;
    bool m_unreadable = false;
};

} // namespace comlib
