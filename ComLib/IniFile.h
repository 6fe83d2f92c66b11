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

    bool Load(const std::string& path);
    std::string Value(const std::string& section, const std::string& key) const;
    std::string Value(const std::string& section, const std::string& key, const std::string& def) const;
    void Set(const std::string& section, const std::string& key, const std::string& value);
    int Save(const std::string& path);

    const std::vector<Entry>& Entries() const { return m_entries; }
    bool IsChanged() const { return m_changed; }

    static std::string ReadString(const std::string& section, const std::string& key, const std::string& def,
                                  const std::string& path);
    static void WriteString(const std::string& section, const std::string& key, const std::string& value,
                            const std::string& path);

private:
    std::map<std::string, std::map<std::string, std::string>> m_sections;
    std::vector<Entry> m_entries;
    std::string m_path;
    bool m_changed = false;
};

} // namespace comlib
