#include "IniFile.h"

#include "AtomicFile.h"

#include <QByteArray>
#include <QtGlobal>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace comlib
{

IniFile::~IniFile()
{
    if (m_changed && !m_path.empty() && !m_unreadable)
        Save(m_path);
}

bool IniFile::Load(const std::string& path)
{
    m_path = path;
    m_error.clear();
    m_unreadable = false;
    // A missing file is only empty; one that is there but cannot be read must be kept as it is.
    const auto refuse = [this, &path](std::string reason)
    {
        m_unreadable = true;
        m_error = std::move(reason);
        qWarning("Cannot read %s: %s; it is left as it is.", path.c_str(), m_error.c_str());
        return false;
    };
    std::ifstream in(std::filesystem::u8path(path), std::ios::in | std::ios::binary);
    if (!in.is_open())
    {
        const int openErrno = errno;
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::u8path(path), ec) || ec)
            return refuse(std::strerror(openErrno));
        m_error = std::strerror(openErrno);
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return refuse("read error");
    // Notepad's "Unicode" (UTF-16) reads as text without a single entry; rewriting it would lose them all.
    const bool utf16Bom = text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') ||
                                               (text[0] == '\xFE' && text[1] == '\xFF'));
    if (utf16Bom || text.find('\0') != std::string::npos)
        return refuse("not UTF-8 or ANSI text (saved as UTF-16?)");

    std::size_t begin = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
    {
        std::cout << "Detected UTF-8 BOM. Skipping..." << std::endl;
        begin = 3;
    }
    std::istringstream lines(text.substr(begin));

    std::vector<Entry> entries;
    std::string section;
    std::string line;
    while (std::getline(lines, line))
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
    if (m_unreadable && path == m_path)
    {
        qWarning("%s was not read, so it is not written either.", path.c_str());
        return -1;
    }
    std::string text = "\xEF\xBB\xBF";
    for (const auto& [name, keys] : m_sections)
    {
        text += '[' + name + "]\r\n";
        for (const auto& [key, value] : keys)
            text += key + '=' + value + "\r\n";
    }
    QString error;
    if (!WriteFileAtomically(QString::fromStdString(path), QByteArray::fromStdString(text), error))
    {
        qWarning("Cannot write %s", qUtf8Printable(error));
        return -1;
    }
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

bool IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value,
                          const std::string& path)
{
    IniFile ini;
    if (!ini.Load(path) && ini.IsUnreadable())
        return false;
    ini.Set(section, key, value);
    return ini.Save(path) == 0;
}

} // namespace comlib
