#include "IniFile.h"

#include <fstream>
#include <iostream>

namespace comlib
{

IniFile::~IniFile()
{
    if (m_changed && !m_path.empty())
        Save(m_path);
}

bool IniFile::Load(const std::string& path)
{
    m_path = path;
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in.is_open())
        return false;

    char bom[3] = {0, 0, 0};
    in.read(bom, 3);
    if (in.gcount() == 3 && static_cast<unsigned char>(bom[0]) == 0xEF &&
        static_cast<unsigned char>(bom[1]) == 0xBB && static_cast<unsigned char>(bom[2]) == 0xBF)
    {
        std::cout << "Detected UTF-8 BOM. Skipping..." << std::endl;
    }
    else
    {
        in.clear();
        in.seekg(0);
    }

    std::vector<Entry> entries;
    std::string section;
    std::string line;
    while (std::getline(in, line))
    {
        // Files written on Windows end their lines with CR LF.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[')
        {
            const auto close = line.find(']');
            if (close != std::string::npos)
                section = line.substr(1, close - 1);
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        if (!section.empty() && !key.empty() && !value.empty())
            entries.push_back({section, std::move(key), std::move(value)});
    }

    m_entries = std::move(entries);
    m_sections.clear();
    // A key written twice in one section keeps its last value.
    for (const auto& e : m_entries)
        m_sections[e.section][e.key] = e.value;

    for (const auto& [name, keys] : m_sections)
    {
        std::cout << "根节点： " << name << '\n';
        for (const auto& [key, value] : keys)
            std::cout << "键值对： " << key << "=" << value << '\n';
    }
    std::cout.flush();
    return true;
}

std::string IniFile::Value(const std::string& section, const std::string& key) const
{
    const auto s = m_sections.find(section);
    if (s == m_sections.end())
        return {};
    const auto k = s->second.find(key);
    return k == s->second.end() ? std::string() : k->second;
}

std::string IniFile::Value(const std::string& section, const std::string& key, const std::string& def) const
{
    std::string v = Value(section, key);
    return v.empty() ? def : v;
}

void IniFile::Set(const std::string& section, const std::string& key, const std::string& value)
{
    m_sections[section][key] = value;
    m_changed = true;
}

int IniFile::Save(const std::string& path)
{
    std::ofstream out(path, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!out.is_open())
        return -1;
    out << "\xEF\xBB\xBF";
    for (const auto& [name, keys] : m_sections)
    {
        out << '[' << name << "]\r\n";
        for (const auto& [key, value] : keys)
            out << key << '=' << value << "\r\n";
    }
    out.close();
    if (out.fail())
        return -1;
    // The destructor's extra save would write the same bytes again.
    if (path == m_path)
        m_changed = false;
    return 0;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& def,
                                const std::string& path)
{
    IniFile ini;
    if (!ini.Load(path))
        return def;
    return ini.Value(section, key, def);
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value,
                          const std::string& path)
{
    IniFile ini;
    ini.Load(path);
    ini.Set(section, key, value);
    ini.Save(path);
}

} // namespace comlib
