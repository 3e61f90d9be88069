// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/workbook/XlsxFile.h"

#include "formats/workbook/CellText.h"
#include "formats/workbook/XmlScanner.h"
#include "formats/workbook/ZipPackage.h"

#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QSet>

#include <pugixml.hpp>

#include <cstring>
#include <sstream>

namespace {

// Every node and whitespace run is kept, so a rewritten part differs only where it was changed.
constexpr unsigned parseKeepingAll = pugi::parse_full | pugi::parse_ws_pcdata;

// Element names compared without their namespace prefix: some writers spell them "x:c".
QLatin1StringView localName(const pugi::xml_node& node)
{
    const char* name = node.name();
    const char* colon = std::strchr(name, ':');
    return QLatin1StringView(colon ? colon + 1 : name);
}

pugi::xml_node child(const pugi::xml_node& parent, QLatin1StringView name)
{
    for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && localName(node) == name)
            return node;
    }
    return {};
}

template <typename F> void forEachChild(const pugi::xml_node& parent, QLatin1StringView name, F f)
{
    for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && localName(node) == name)
            f(node);
    }
}

QString text(const char* s) { return QString::fromUtf8(s); }

bool parse(const QByteArray& bytes, pugi::xml_document* doc)
{
    return bytes.size() > 0 && doc->load_buffer(bytes.constData(), size_t(bytes.size()), parseKeepingAll);
}

struct Relationship {
    QString type;
    QString target; // resolved part name
};

QString relationshipsOf(const QString& part)
{
    const qsizetype slash = part.lastIndexOf(u'/');
    return part.left(slash + 1) + QStringLiteral("_rels/") + part.mid(slash + 1) + QStringLiteral(".rels");
}

QString resolve(const QString& part, const QString& target)
{
    if (target.startsWith(u'/'))
        return target.mid(1);
    return QDir::cleanPath(part.left(part.lastIndexOf(u'/') + 1) + target);
}

QHash<QString, Relationship> relationships(const ZipPackage& zip, const QString& part)
{
    QHash<QString, Relationship> out;
    pugi::xml_document doc;
    const auto bytes = zip.read(relationshipsOf(part));
    if (!bytes || !parse(*bytes, &doc))
        return out;
    forEachChild(
        child(doc, QLatin1StringView("Relationships")), QLatin1StringView("Relationship"),
        [&](const pugi::xml_node& r) {
            if (QLatin1StringView(r.attribute("TargetMode").value()) == QLatin1StringView("External"))
                return;
            out.insert(text(r.attribute("Id").value()), {text(r.attribute("Type").value()),
                                                         resolve(part, text(r.attribute("Target").value()))});
        });
    return out;
}

QString targetOfType(const QHash<QString, Relationship>& rels, QStringView typeEnd, const QString& fallback)
{
    for (const Relationship& r : rels) {
        if (r.type.endsWith(typeEnd))
            return r.target;
    }
    return fallback;
}

int columnOf(QStringView reference)
{
    int column = 0;
    qsizetype i = 0;
    for (; i < reference.size() && reference[i].isLetter(); ++i)
        column = column * 26 + (reference[i].toUpper().unicode() - u'A' + 1);
    return i > 0 ? column - 1 : -1;
}

// Calls `visit(row, column, cellNode)` for each cell, placing cells without a reference
// after the one before them, as readers do.
template <typename Visit> void forEachCell(const pugi::xml_node& sheetData, Visit visit)
{
    int row = -1;
    forEachChild(sheetData, QLatin1StringView("row"), [&](const pugi::xml_node& rowNode) {
        const int given = rowNode.attribute("r").as_int(0);
        row = given > 0 ? given - 1 : row + 1;
        int column = -1;
        forEachChild(rowNode, QLatin1StringView("c"), [&](const pugi::xml_node& cell) {
            const int referenced = columnOf(text(cell.attribute("r").value()));
            column = referenced >= 0 ? referenced : column + 1;
            visit(row, column, cell);
        });
    });
}

QStringList sharedStrings(const QByteArray& xml);

QString tooLargeReason(const QString& part)
{
    return QStringLiteral("工作簿太大：其中的“%1”解压后超过 %2 MB，不像一份名单")
        .arg(part)
        .arg(ZipPackage::maxPartBytes >> 20);
}

struct Package {
    ZipPackage zip;
    QString sheetName;
    QString sheetPart;
    QStringList strings;
    std::vector<QString> cellFormats; // format code of each cell style
    bool date1904 = false;
};

bool openPackage(const QByteArray& file, const QString& sheetName, bool exact, Package* p, QString* error)
{
    if (!p->zip.open(file, error))
        return false;
    const QString workbookPart =
        targetOfType(relationships(p->zip, QString()), u"/officeDocument", QStringLiteral("xl/workbook.xml"));
    pugi::xml_document workbook;
    const auto workbookBytes = p->zip.read(workbookPart);
    if (!workbookBytes || !parse(*workbookBytes, &workbook)) {
        *error = QStringLiteral("不是.xlsx工作簿");
        return false;
    }
    const pugi::xml_node root = child(workbook, QLatin1StringView("workbook"));
    const QString date1904 = text(child(root, QLatin1StringView("workbookPr")).attribute("date1904").value());
    p->date1904 = date1904 == u"1" || date1904 == u"true";

    const auto rels = relationships(p->zip, workbookPart);
    bool found = false;
    forEachChild(
        child(root, QLatin1StringView("sheets")), QLatin1StringView("sheet"), [&](const pugi::xml_node& s) {
            if (found)
                return;
            QString id;
            for (const pugi::xml_attribute& a : s.attributes()) {
                if (QLatin1StringView(a.name()).endsWith(QLatin1StringView(":id")))
                    id = text(a.value());
            }
            const auto rel = rels.constFind(id);
            if (rel == rels.constEnd() || !rel->type.endsWith(u"/worksheet"))
                return; // chart and dialog sheets hold no roster
            const QString name = text(s.attribute("name").value());
            const bool named = exact ? name == sheetName : name.compare(sheetName, Qt::CaseInsensitive) == 0;
            if (named || (!exact && p->sheetPart.isEmpty())) {
                p->sheetName = name;
                p->sheetPart = rel->target;
            }
            found = named;
        });
    if (p->sheetPart.isEmpty() || (exact && !found)) {
        *error = exact ? QStringLiteral("工作簿中没有工作表“%1”").arg(sheetName)
                       : QStringLiteral("工作簿中没有工作表");
        return false;
    }

    const QString stringsPart = targetOfType(rels, u"/sharedStrings", QStringLiteral("xl/sharedStrings.xml"));
    bool tooLarge = false;
    const auto stringBytes = p->zip.read(stringsPart, &tooLarge);
    if (tooLarge) {
        *error = tooLargeReason(stringsPart);
        return false;
    }
    if (stringBytes)
        p->strings = sharedStrings(*stringBytes);
    pugi::xml_document styles;
    if (const auto bytes = p->zip.read(targetOfType(rels, u"/styles", QStringLiteral("xl/styles.xml")));
        bytes && parse(*bytes, &styles)) {
        const pugi::xml_node sheet = child(styles, QLatin1StringView("styleSheet"));
        QHash<int, QString> custom;
        forEachChild(child(sheet, QLatin1StringView("numFmts")), QLatin1StringView("numFmt"),
                     [&](const pugi::xml_node& f) {
                         custom.insert(f.attribute("numFmtId").as_int(),
                                       text(f.attribute("formatCode").value()));
                     });
        forEachChild(child(sheet, QLatin1StringView("cellXfs")), QLatin1StringView("xf"),
                     [&](const pugi::xml_node& xf) {
                         const int id = xf.attribute("numFmtId").as_int();
                         p->cellFormats.push_back(custom.value(id, CellText::builtInFormat(id)));
                     });
    }
    return true;
}

std::optional<QByteArray> sheetBytes(const Package& p, QString* error)
{
    bool tooLarge = false;
    const auto bytes = p.zip.read(p.sheetPart, &tooLarge);
    if (!bytes || bytes->isEmpty()) {
        *error = tooLarge ? tooLargeReason(p.sheetPart)
                          : QStringLiteral("工作表“%1”已损坏，读不出内容").arg(p.sheetName);
        return std::nullopt;
    }
    return bytes;
}

bool openSheet(const QByteArray& file, const QString& sheetName, bool exact, Package* p,
               pugi::xml_document* doc, QString* error)
{
    if (!openPackage(file, sheetName, exact, p, error))
        return false;
    const auto bytes = sheetBytes(*p, error);
    if (!bytes)
        return false;
    if (!parse(*bytes, doc)) {
        *error = QStringLiteral("工作表“%1”已损坏，读不出内容").arg(p->sheetName);
        return false;
    }
    return true;
}

// What a cell shows, from its type ("t"), style ("s") and stored value (<v>), or the text of
// its inline string.
QString cellText(const Package& p, QStringView type, size_t style, const QString& value,
                 const QString& inlineText)
{
    if (type == u"s") {
        bool ok = false;
        const int index = value.toInt(&ok);
        return ok ? p.strings.value(index) : QString();
    }
    if (type == u"inlineStr")
        return inlineText;
    if (type == u"str" || type == u"e")
        return value;
    if (type == u"b")
        return value.isEmpty() ? QString() : value == u"1" ? QStringLiteral("TRUE") : QStringLiteral("FALSE");

    QString format = style < p.cellFormats.size() ? p.cellFormats[style] : QString();
    double number;
    if (type == u"d") {
        const QDateTime when = QDateTime::fromString(value, Qt::ISODate);
        if (!when.isValid())
            return value;
        const QDateTime base(QDate(1899, 12, 30), QTime(0, 0));
        number = double(base.msecsTo(QDateTime(when.date(), when.time()))) / 86400000.0;
        if (!CellText::isDateFormat(format))
            format = QStringLiteral("yyyy/m/d");
        return CellText::number(number, format, false);
    }
    bool ok = false;
    number = value.toDouble(&ok);
    return ok ? CellText::number(number, format, p.date1904) : value;
}

// The text of a string item (an inline string's <is>, a shared string's <si>): its own <t>,
// or the <t> of each run, phonetic guides left out.
QString stringItemText(XmlScanner& xml)
{
    QString out;
    if (xml.isEmptyElement())
        return out;
    int depth = 1;
    while (depth > 0 && xml.next()) {
        if (!xml.isStart()) {
            --depth;
        } else if (xml.name() == "rPh") {
            xml.skipElement();
        } else if (xml.name() == "t") {
            bool cut = false;
            out += xml.text(WorksheetCells::maxCellBytes, &cut);
            // Runs beyond what a cell holds are passed over; one character past it says so.
            if (cut || out.size() > WorksheetCells::maxCellText)
                out.truncate(WorksheetCells::maxCellText + 1);
            if (!xml.isEmptyElement())
                ++depth;
        } else if (!xml.isEmptyElement()) {
            ++depth;
        }
    }
    return out;
}

// The workbook's table of strings, read in one pass: a tree of it would take ten times its size.
QStringList sharedStrings(const QByteArray& bytes)
{
    QStringList strings;
    XmlScanner xml(bytes);
    while (xml.next()) {
        if (xml.isStart() && xml.name() == "si")
            strings << stringItemText(xml);
    }
    return strings;
}

// The highest row a worksheet has; what lies beyond is no sheet's content and is not read.
constexpr int sheetRows = 1 << 20;
constexpr int sheetColumns = 1 << 14;

int number(QByteArrayView text)
{
    bool ok = false;
    const int value = text.toByteArray().toInt(&ok);
    return ok ? value : 0;
}

// Reads the cells in one pass without building the part's tree, so a large roster costs
// little more than its texts, and stops at the sheet's last row. Cells without a reference
// are placed after the one before them, as readers do.
bool readCells(const Package& p, const QByteArray& bytes, WorksheetCells* sheet)
{
    XmlScanner xml(bytes);
    int row = -1;
    int column = -1;
    bool inData = false;
    while (xml.next()) {
        const QByteArrayView name = xml.name();
        if (!xml.isStart()) {
            if (name == "sheetData")
                break;
            continue;
        }
        if (name == "sheetData") {
            inData = true;
        } else if (!inData) {
            continue;
        } else if (name == "row") {
            const int given = number(xml.attribute("r"));
            row = given > 0 ? given - 1 : row + 1;
            column = -1;
            if (row >= sheetRows)
                break;
        } else if (name == "c") {
            const int referenced = columnOf(QString::fromLatin1(xml.attribute("r")));
            column = referenced >= 0 ? referenced : column + 1;
            const QString type = QString::fromLatin1(xml.attribute("t"));
            const size_t style = size_t(std::max(number(xml.attribute("s")), 0));
            QString value, inlineText;
            for (int depth = xml.isEmptyElement() ? 0 : 1; depth > 0 && xml.next();) {
                if (!xml.isStart()) {
                    --depth;
                } else if (xml.name() == "v" && !xml.isEmptyElement()) {
                    bool cut = false;
                    value = xml.text(WorksheetCells::maxCellBytes, &cut);
                    if (cut)
                        value.truncate(WorksheetCells::maxCellText + 1);
                    ++depth; // its end tag comes next
                } else if (xml.name() == "is") {
                    inlineText = stringItemText(xml);
                } else {
                    xml.skipElement();
                }
            }
            if (row >= 0 && column >= 0 && column < sheetColumns)
                sheet->set(row, column, cellText(p, type, style, value, inlineText));
        }
    }
    return !xml.failed();
}

} // namespace

namespace XlsxFile {

bool readSheet(const QByteArray& file, const QString& preferred, WorksheetCells* sheet, QString* error)
{
    Package p;
    if (!openPackage(file, preferred, false, &p, error))
        return false;
    const auto bytes = sheetBytes(p, error);
    if (!bytes)
        return false;
    sheet->sheetName = p.sheetName;
    sheet->rows.clear();
    if (!readCells(p, *bytes, sheet)) {
        *error = QStringLiteral("工作表“%1”已损坏，读不出内容").arg(p.sheetName);
        return false;
    }
    return true;
}

bool blankCells(const QByteArray& file, const QString& sheetName, const std::vector<CellAddress>& cells,
                QByteArray* result, QString* error)
{
    Package p;
    pugi::xml_document doc;
    if (!openSheet(file, sheetName, true, &p, &doc, error))
        return false;
    QHash<int, QSet<int>> targets;
    for (const CellAddress& cell : cells)
        targets[cell.row].insert(cell.column);
    std::vector<pugi::xml_node> blanked;
    bool formula = false;
    forEachCell(child(child(doc, QLatin1StringView("worksheet")), QLatin1StringView("sheetData")),
                [&](int row, int column, const pugi::xml_node& cell) {
                    const auto found = targets.constFind(row);
                    if (found == targets.constEnd() || !found->contains(column))
                        return;
                    formula = formula || child(cell, QLatin1StringView("f"));
                    blanked.push_back(cell);
                });
    if (formula) {
        *error = QStringLiteral("要清空的单元格是公式，不能清空");
        return false;
    }
    for (pugi::xml_node& cell : blanked) {
        while (cell.first_child())
            cell.remove_child(cell.first_child());
        // The reference and the style stay; the type and value metadata go with the value.
        cell.remove_attribute("t");
        cell.remove_attribute("vm");
        cell.remove_attribute("cm");
    }
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw, pugi::encoding_utf8);
    const std::string xml = out.str();
    p.zip.replace(p.sheetPart, QByteArray(xml.data(), qsizetype(xml.size())));
    return p.zip.save(result, error);
}

} // namespace XlsxFile
