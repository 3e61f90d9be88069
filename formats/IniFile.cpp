// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/IniFile.h"

#include "formats/Gbk.h"
#include "formats/SafeFile.h"
#include "formats/SettingText.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

struct Line {
    QByteArray bytes;  // without the line ending
    QByteArray ending; // "\n", "\r\n" or empty for an unterminated last line
};

struct Entry {
    QString name; // section name for a header, key for a key line
    QString value;
};

std::vector<Line> splitLines(const QByteArray& data)
{
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        Line line;
        if (end < 0) {
            line.bytes = data.mid(start);
            start = data.size();
        } else {
            line.bytes = data.mid(start, end - start);
            line.ending = "\n";
            if (line.bytes.endsWith('\r')) {
                line.bytes.chop(1);
                line.ending = "\r\n";
            }
            start = end + 1;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::optional<QString> sectionHeader(const QString& text)
{
    const QString t = text.trimmed();
    if (!t.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = t.indexOf(u']');
    if (close < 0)
        return std::nullopt;
    return t.mid(1, close - 1).trimmed();
}

std::optional<Entry> keyLine(const QString& text)
{
    const QString t = text.trimmed();
    if (t.startsWith(u';') || t.startsWith(u'#'))
        return std::nullopt;
    const qsizetype eq = t.indexOf(u'=');
    if (eq <= 0)
        return std::nullopt;
    QString value = t.mid(eq + 1).trimmed();
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'')
        && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return Entry{t.left(eq).trimmed(), value};
}

bool sameName(QStringView a, QStringView b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// Where a key lives: the header line of its section and, when present, its own line.
struct Location {
    std::optional<size_t> section;
    std::optional<size_t> key;
    size_t sectionEnd = 0; // one past the last non-blank line of the section
};

Location locate(const std::vector<Line>& lines, QStringView section, QStringView key)
{
    Location found;
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const QString text = gbk::decode(lines[i].bytes);
        if (const auto header = sectionHeader(text)) {
            if (inSection)
                break;
            inSection = !found.section && sameName(*header, section);
            if (inSection) {
                found.section = i;
                found.sectionEnd = i + 1;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (!text.trimmed().isEmpty())
            found.sectionEnd = i + 1;
        if (const auto entry = keyLine(text); entry && !found.key && sameName(entry->name, key))
            found.key = i;
    }
    return found;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString readReason(int errorNumber)
{
    if (errorNumber == EACCES || errorNumber == EPERM)
        return QStringLiteral("没有读取这个文件的权限");
    return SafeFile::describeError(errorNumber);
}

// The file as it is before a write; nothing when it exists but cannot be read whole, since
// writing back only the new keys would throw away every other setting.
std::optional<QByteArray> readForWrite(const QString& path, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return QByteArray();
        if (error)
            *error = QStringLiteral("无法读取“%1”：%2").arg(QFileInfo(path).fileName(), readReason(errno));
        return std::nullopt;
    }
    QByteArray bytes;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (error)
                *error =
                    QStringLiteral("无法读取“%1”：%2").arg(QFileInfo(path).fileName(), readReason(errno));
            ::close(fd);
            return std::nullopt;
        }
        bytes.append(buffer, n);
    }
    ::close(fd);
    return bytes;
}

// A value must stay on its own line, whatever was typed.
QString oneLine(QStringView value)
{
    QString text = value.toString();
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

} // namespace

QString IniFile::read(const QString& path, QStringView section, QStringView key, const QString& defaultValue)
{
    const std::vector<Line> lines = splitLines(readAll(path));
    const Location at = locate(lines, section, key);
    if (!at.key)
        return defaultValue;
    return keyLine(gbk::decode(lines[*at.key].bytes))->value;
}

int IniFile::readInteger(const QString& path, QStringView section, QStringView key, int defaultValue)
{
    return SettingText::toInteger(read(path, section, key, QString::number(defaultValue)));
}

QStringList IniFile::keys(const QString& path, QStringView section)
{
    QStringList keys;
    bool inSection = false;
    for (const Line& line : splitLines(readAll(path))) {
        const QString text = gbk::decode(line.bytes);
        if (const auto header = sectionHeader(text)) {
            inSection = sameName(*header, section);
            continue;
        }
        if (const auto entry = keyLine(text);
            inSection && entry && !keys.contains(entry->name, Qt::CaseInsensitive))
            keys << entry->name;
    }
    return keys;
}

bool IniFile::readFlag(const QString& path, QStringView section, QStringView key)
{
    return SettingText::toFlag(read(path, section, key));
}

namespace {

QByteArray lineEnding(const std::vector<Line>& lines)
{
    for (const Line& line : lines) {
        if (!line.ending.isEmpty())
            return line.ending;
    }
    return "\n";
}

void setValue(std::vector<Line>& lines, QStringView section, QStringView key, QStringView value)
{
    const QByteArray eol = lineEnding(lines);
    const QByteArray keyBytes = gbk::encode(key) + '=' + gbk::encode(oneLine(value));
    const Location at = locate(lines, section, key);
    if (at.key) {
        lines[*at.key].bytes = keyBytes;
        return;
    }
    if (!lines.empty() && lines.back().ending.isEmpty())
        lines.back().ending = eol;
    if (at.section) {
        lines.insert(lines.begin() + qsizetype(at.sectionEnd), Line{keyBytes, eol});
    } else {
        lines.push_back(Line{'[' + gbk::encode(section) + ']', eol});
        lines.push_back(Line{keyBytes, eol});
    }
}

// Two copies of the program may save settings at the same moment; without this, each
// would write back the file as it read it and drop the other's keys.
constexpr int lockTimeoutMs = 3000;

QString lockPath(const QString& path)
{
    const QFileInfo info(path);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".lock");
}

// A lock the kernel holds for its holder and drops when the holder ends, however it ends: a
// writer killed half-way never keeps the next one waiting. The lock file itself stays, empty;
// removing it would let two writers lock two different files of the same name.
class WriterLock {
public:
    explicit WriterLock(const QString& path)
    {
        const QByteArray name = QFile::encodeName(lockPath(path));
        m_fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        // One left by another user (a run under sudo) still locks when it can only be read.
        if (m_fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
            m_fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0)
            m_openError = errno;
    }
    ~WriterLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

    bool acquire(const QString& path, QString* error)
    {
        const QString fileName = QFileInfo(path).fileName();
        if (m_fd < 0) {
            if (error)
                *error =
                    QStringLiteral("无法写入“%1”：%2").arg(fileName, SafeFile::describeError(m_openError));
            return false;
        }
        for (int waited = 0;; waited += pollMs) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
                return true;
            if (errno != EWOULDBLOCK && errno != EINTR) {
                if (error)
                    *error = QStringLiteral("无法写入“%1”：%2").arg(fileName, SafeFile::describeError(errno));
                return false;
            }
            if (waited >= lockTimeoutMs) {
                if (error)
                    *error = QStringLiteral("设置文件正被另一个程序写入，请稍后再试");
                return false;
            }
            ::usleep(pollMs * 1000);
        }
    }

private:
    static constexpr int pollMs = 5;
    int m_fd = -1;
    int m_openError = 0;
};

} // namespace

bool IniFile::write(const QString& path, QStringView section, const Values& values, QString* error)
{
    WriterLock lock(path);
    if (!lock.acquire(path, error))
        return false;
    const std::optional<QByteArray> old = readForWrite(path, error);
    if (!old)
        return false;
    std::vector<Line> lines = splitLines(*old);
    for (const auto& [key, value] : values)
        setValue(lines, section, key, value);
    QByteArray bytes;
    for (const Line& line : lines)
        bytes += line.bytes + line.ending;
    return SafeFile::write(path, bytes, error);
}

bool IniFile::write(const QString& path, QStringView section, QStringView key, QStringView value,
                    QString* error)
{
    return write(path, section, Values{{key.toString(), value.toString()}}, error);
}
