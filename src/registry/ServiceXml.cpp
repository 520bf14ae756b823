// SPDX-License-Identifier: GPL-3.0-or-later
#include "registry/ServiceXml.h"

#include <iconv.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/AsciiCase.h"
#include "app/AtomicFile.h"
#include "app/Words.h"
#include "registry/ServiceElements.h"

namespace vantor::registry::xml {

namespace {

// Comments and processing instructions are kept, so that a save writes
// back what the operator wrote beside the records.
// A text that is an element's first content is kept in the element itself
// rather than in a child node of its own: a record holds about twenty such
// elements, and this halves the nodes a large list takes in memory.
constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_declaration |
                                 pugi::parse_doctype | pugi::parse_ws_pcdata_single |
                                 pugi::parse_comments | pugi::parse_pi | pugi::parse_embed_pcdata;

// Deeper than any service list goes (serviceList, record, service_url, a
// field): a file nested far deeper is not one, and indenting it on save
// would make it grow without bound.
constexpr int kMaxDepth = 16;

// How deep elements nest below the document, walked without recursion.
int ElementDepth(const pugi::xml_document& doc) {
    int depth = 0;
    int deepest = 0;
    pugi::xml_node node = doc.first_child();
    while (node) {
        if (node.type() == pugi::node_element && node.first_child()) {
            node = node.first_child();
            deepest = std::max(deepest, ++depth);
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
            --depth;
        }
        if (node) {
            node = node.next_sibling();
        }
    }
    return deepest;
}

// Why a parsed file cannot be kept as it is, or empty when it can.
std::string WhyNotKept(const pugi::xml_document& doc) {
    for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
        // Entities would be read without their declared text and written
        // back escaped: the file would no longer say what it said.
        if (node.type() == pugi::node_doctype &&
            std::string_view(node.value()).find("<!ENTITY") != std::string_view::npos) {
            return "it declares entities, which this program cannot keep";
        }
    }
    if (ElementDepth(doc) > kMaxDepth) {
        return "its elements nest deeper than " + std::to_string(kMaxDepth) + " levels";
    }
    return {};
}

// Whatever encoding the file declared, it is saved as UTF-8 and must say so.
void DeclareUtf8(pugi::xml_document& doc) {
    for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_declaration) {
            if (pugi::xml_attribute encoding = node.attribute("encoding")) {
                encoding.set_value("UTF-8");
            }
            return;
        }
    }
}

void AppendChildText(pugi::xml_node parent, const char* name, std::string_view value) {
    parent.append_child(name).append_child(pugi::node_pcdata).set_value(std::string(value).c_str());
}

struct StringWriter final : pugi::xml_writer {
    std::string out;
    void write(const void* data, size_t size) override {
        out.append(static_cast<const char*>(data), size);
    }
};

// Hands pugixml's output to a file in large pieces. pugixml cannot be told
// that a write failed: after the first failure the rest is dropped, and
// failed() says so with the write's errno.
class FileWriter final : public pugi::xml_writer {
public:
    explicit FileWriter(int fd) : m_fd(fd) { m_buffer.reserve(kPiece); }
    void write(const void* data, size_t size) override {
        if (m_errno != 0) {
            return;
        }
        if (m_buffer.size() + size > kPiece) {
            flush();
        }
        if (size >= kPiece) {
            put(std::string_view(static_cast<const char*>(data), size));
        } else {
            m_buffer.append(static_cast<const char*>(data), size);
        }
    }
    // False with errno set when a write failed.
    bool finish() {
        flush();
        errno = m_errno;
        return m_errno == 0;
    }

private:
    static constexpr std::size_t kPiece = std::size_t{1} << 20;
    void flush() {
        put(m_buffer);
        m_buffer.clear();
    }
    void put(std::string_view piece) {
        if (m_errno == 0 && !app::WriteAll(m_fd, piece)) {
            m_errno = errno != 0 ? errno : EIO;
        }
    }
    int m_fd;
    int m_errno = 0;
    std::string m_buffer;
};

// Where the comment, CDATA section, processing instruction or document type
// that starts at `at` ends; npos when none starts there.
std::size_t RawMarkupEnd(const std::string& xml, std::size_t at) {
    static constexpr std::pair<std::string_view, std::string_view> kClosedBy[] = {
        {"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
    for (const auto& [open, close] : kClosedBy) {
        if (xml.compare(at, open.size(), open) == 0) {
            const std::size_t found = xml.find(close, at + open.size());
            return found == std::string::npos ? xml.size() : found + close.size();
        }
    }
    if (xml.compare(at, 2, "<!") != 0) {
        return std::string::npos;
    }
    // The document type ends at the first ">" outside its internal subset
    // and its quoted literals.
    char quote = 0;
    int depth = 0;
    for (std::size_t i = at + 2; i < xml.size(); ++i) {
        const char c = xml[i];
        if (quote != 0) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[' || c == ']') {
            depth += c == '[' ? 1 : -1;
        } else if (c == '>' && depth <= 0) {
            return i + 1;
        }
    }
    return xml.size();
}

// The node after this one in document order (depth first, without
// recursion); null after the last.
pugi::xml_node NextInDocumentOrder(pugi::xml_node node) {
    if (node.first_child()) {
        return node.first_child();
    }
    while (node && !node.next_sibling()) {
        node = node.parent();
    }
    return node ? node.next_sibling() : pugi::xml_node();
}

bool IsControlXmlCannotHold(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 && u != '\t' && u != '\n' && u != '\r';
}

// A control character that XML 1.0 cannot hold, read from an older or a
// hand-made file (pugixml takes "&#1;" and a raw U+0001 alike), is read as
// a blank, as in details: the list held is then the one the next save
// writes, a key is the same after the save as before it, and a blank (the
// value keeps its length) never makes "?>", "--" or "]]>" of a processing
// instruction, comment or CDATA section that is written back as it is.
void BlankControlsXmlCannotHold(pugi::xml_document& doc) {
    const auto blank = [](const char* value) {
        for (char* c = const_cast<char*>(value); *c != '\0'; ++c) {
            if (IsControlXmlCannotHold(*c)) {
                *c = ' ';
            }
        }
    };
    for (pugi::xml_node node = doc.first_child(); node; node = NextInDocumentOrder(node)) {
        blank(node.value());
        for (pugi::xml_attribute attribute : node.attributes()) {
            blank(attribute.value());
        }
    }
}

// Where the value of the declaration's encoding stands in data, when the
// file starts with a declaration in ASCII bytes that names one.
struct DeclaredEncoding {
    std::size_t at = 0;
    std::size_t size = 0;
};
std::optional<DeclaredEncoding> FindDeclaredEncoding(std::string_view data) {
    if (!data.starts_with("<?xml") || data.size() < 6 ||
        std::strchr(" \t\r\n", data[5]) == nullptr) {
        return std::nullopt;
    }
    const std::string_view declaration = data.substr(0, data.find("?>"));
    std::size_t at = declaration.find("encoding");
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    at += std::strlen("encoding");
    const auto skipBlanks = [&] {
        while (at < declaration.size() && std::strchr(" \t\r\n", declaration[at]) != nullptr) {
            ++at;
        }
    };
    skipBlanks();
    if (at >= declaration.size() || declaration[at] != '=') {
        return std::nullopt;
    }
    ++at;
    skipBlanks();
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) {
        return std::nullopt;
    }
    const std::size_t close = declaration.find(declaration[at], at + 1);
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return DeclaredEncoding{at + 1, close - at - 1};
}

// A file in an encoding other than UTF-8 or UTF-16/32 (which pugixml reads
// itself, by their byte order marks and patterns) is turned into UTF-8 by
// iconv, with its declaration then naming UTF-8, as the file will be saved.
// An encoding iconv does not know, or bytes that are not in it, refuse the
// file rather than read it as something it does not say.
Status DecodeDeclaredEncoding(std::string& data, const std::string& where) {
    const std::optional<DeclaredEncoding> declared = FindDeclaredEncoding(data);
    if (!declared) {
        return {};
    }
    const std::string name = data.substr(declared->at, declared->size);
    using app::StartsWithNoCase;
    if (StartsWithNoCase(name, "utf-8") || StartsWithNoCase(name, "utf8") ||
        StartsWithNoCase(name, "utf-16") || StartsWithNoCase(name, "utf-32") ||
        StartsWithNoCase(name, "ucs-")) {
        return {};
    }
    const iconv_t cd = ::iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return Error{where + ": its declared encoding \"" + name + "\" cannot be read"};
    }
    std::string out(data.size() + data.size() / 2 + 64, '\0');
    char* in = data.data();
    std::size_t inLeft = data.size();
    std::size_t done = 0;
    bool flushed = false;
    bool bad = false;
    for (;;) {
        char* to = out.data() + done;
        std::size_t toLeft = out.size() - done;
        // With the input used up, a call without input writes out what a
        // stateful encoding still holds back.
        const std::size_t converted = inLeft > 0 ? ::iconv(cd, &in, &inLeft, &to, &toLeft)
                                                 : ::iconv(cd, nullptr, nullptr, &to, &toLeft);
        const int error = errno;
        done = static_cast<std::size_t>(to - out.data());
        if (converted != static_cast<std::size_t>(-1)) {
            if (flushed) {
                break;
            }
            flushed = inLeft == 0;
        } else if (error == E2BIG) {
            out.resize(out.size() * 2);
        } else {
            bad = true;
            break;
        }
    }
    ::iconv_close(cd);
    if (bad) {
        return Error{where + ": the bytes at offset " + std::to_string(data.size() - inLeft) +
                     " are not " + name};
    }
    out.resize(done);
    const std::optional<DeclaredEncoding> again = FindDeclaredEncoding(out);
    if (!again || out.compare(again->at, again->size, name) != 0) {
        return Error{where + ": its declared encoding \"" + name + "\" cannot be read"};
    }
    out.replace(again->at, again->size, "UTF-8");
    data = std::move(out);
    return {};
}

// The tree's names and texts stay in data, which must outlive doc.
Status ParseTree(std::string& data, const std::string& where, pugi::xml_document& doc,
                 pugi::xml_encoding* encoding = nullptr) {
    const pugi::xml_parse_result parsed =
        doc.load_buffer_inplace(data.data(), data.size(), kParseFlags, pugi::encoding_auto);
    if (encoding != nullptr) {
        *encoding = parsed.encoding;
    }
    if (!parsed) {
        return Error{where + ": " + parsed.description() + " at offset " +
                     std::to_string(parsed.offset)};
    }
    if (!doc.document_element() ||
        std::string_view(doc.document_element().name()) != "serviceList") {
        return Error{where + ": the root element is not serviceList"};
    }
    if (const std::string why = WhyNotKept(doc); !why.empty()) {
        return Error{where + ": " + why};
    }
    DeclareUtf8(doc);
    BlankControlsXmlCannotHold(doc);
    return {};
}

}  // namespace

std::optional<std::string> WhyNotXmlText(std::string_view text) {
    const auto code = [](unsigned value) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "U+%04X", value);
        return std::string(buf);
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                return code(c);
            }
            ++i;
            continue;
        }
        // One UTF-8 sequence: its length, its value, and no overlong form.
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
        if (length == 0 || c > 0xF4 || i + length > text.size()) {
            return std::string("bytes that are not UTF-8");
        }
        unsigned value = c & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return std::string("bytes that are not UTF-8");
            }
            value = (value << 6) | (next & 0x3F);
        }
        static constexpr unsigned kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < kLeast[length] || value > 0x10FFFF) {
            return std::string("bytes that are not UTF-8");
        }
        if ((value >= 0xD800 && value <= 0xDFFF) || value == 0xFFFE || value == 0xFFFF) {
            return code(value);
        }
        i += length;
    }
    return std::nullopt;
}

namespace {

constexpr unsigned kSaveFlags =
    pugi::format_indent | pugi::format_no_declaration | pugi::format_no_empty_element_tags;
constexpr const char* kIndent = "  ";

std::string Print(pugi::xml_node node, unsigned depth) {
    StringWriter writer;
    // No control character XML 1.0 cannot hold reaches the document: the
    // edits refuse one and the parse reads one as a blank. (pugixml's
    // format_skip_control_chars would also drop the tab, LF and CR that an
    // attribute value holds as "&#9;", "&#10;" and "&#13;".)
    node.print(writer, kIndent, kSaveFlags, pugi::encoding_utf8, depth);
    return std::move(writer.out);
}

// pugixml writes a CR inside a text as it is, and XML readers turn it (alone
// or before an LF) into an LF; written as "&#13;" it reads back as a CR.
// Attribute values come out escaped already; comments, CDATA sections,
// processing instructions and the document type are left as they are.
// A piece of the file never splits such markup, so each is mended alone.
std::string EscapeTextCarriageReturns(std::string xml) {
    if (xml.find('\r') == std::string::npos) {
        return xml;  // the usual case, without a copy
    }
    std::string out;
    out.reserve(xml.size() + 64);
    for (std::size_t i = 0; i < xml.size();) {
        const std::size_t end = xml[i] == '<' ? RawMarkupEnd(xml, i) : std::string::npos;
        if (end != std::string::npos) {
            out.append(xml, i, end - i);
            i = end;
        } else {
            out += xml[i] == '\r' ? std::string_view("&#13;") : std::string_view(&xml[i], 1);
            ++i;
        }
    }
    return out;
}

// The text before the entries and after them, from the list without its
// children: pugixml writes it with a marker child between the two.
Status SplitAroundEntries(pugi::xml_document& doc, ServiceList& list, const std::string& where) {
    pugi::xml_node root = doc.document_element();
    list.listHasText = root.value()[0] != '\0';
    const std::string whole = Print(doc, 0);
    std::string marker = "vantor-lite entries";
    while (whole.find(marker) != std::string::npos) {
        marker += '-';
    }
    pugi::xml_node placeholder = root.append_child(pugi::node_comment);
    placeholder.set_value(marker.c_str());
    const std::string marked = Print(doc, 0);
    root.remove_child(placeholder);
    const std::string comment = "<!--" + marker + "-->\n";
    const std::size_t at = marked.find(comment);
    const std::size_t lead = list.listHasText ? 0 : 1 + std::strlen(kIndent);
    if (at == std::string::npos || at < lead) {
        return Error{where + ": its list cannot be written back as it is"};
    }
    list.head = marked.substr(0, at - lead);
    list.tail = marked.substr(at + comment.size());
    if (list.head + list.tail != whole) {
        return Error{where + ": its list cannot be written back as it is"};
    }
    list.head = EscapeTextCarriageReturns(std::move(list.head));
    list.tail = EscapeTextCarriageReturns(std::move(list.tail));
    return {};
}

// Where the tag that starts at `at` ends (after its ">"), its quoted values
// skipped; npos when it does not end.
std::size_t TagEnd(const std::string& xml, std::size_t at) {
    char quote = 0;
    for (std::size_t i = at + 1; i < xml.size(); ++i) {
        const char c = xml[i];
        if (quote != 0) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return std::string::npos;
}

bool IsBlank(const std::string& xml, std::size_t from, std::size_t to) {
    return std::all_of(xml.begin() + static_cast<std::ptrdiff_t>(from),
                       xml.begin() + static_cast<std::ptrdiff_t>(to),
                       [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
}

// The content of the root element, cut where each of its children ends.
struct ChildSplit {
    std::size_t contentStart = 0;
    std::size_t contentEnd = 0;  // at the root's end tag
    std::vector<std::size_t> ends;
};

// Splits the file's text at the children of its root, as far as markup
// tells; nullopt where it cannot say (text or CDATA beside the children, a
// root without content, anything that does not end). What it says is only
// a guess that the parse of each piece confirms.
std::optional<ChildSplit> SplitAtChildren(const std::string& xml) {
    std::size_t pos = 0;
    for (;;) {  // the prologue, up to the root's start tag
        pos = xml.find('<', pos);
        if (pos == std::string::npos) {
            return std::nullopt;
        }
        const std::size_t raw = RawMarkupEnd(xml, pos);
        if (raw == std::string::npos) {
            break;
        }
        pos = raw;
    }
    const std::size_t start = TagEnd(xml, pos);
    if (start == std::string::npos || xml[start - 2] == '/') {
        return std::nullopt;
    }
    ChildSplit split;
    split.contentStart = start;
    int depth = 1;
    for (pos = start;;) {
        const std::size_t open = xml.find('<', pos);
        if (open == std::string::npos || (depth == 1 && !IsBlank(xml, pos, open))) {
            return std::nullopt;
        }
        if (const std::size_t raw = RawMarkupEnd(xml, open); raw != std::string::npos) {
            if (depth == 1) {
                if (xml.compare(open, 9, "<![CDATA[") == 0) {
                    return std::nullopt;
                }
                split.ends.push_back(raw);
            }
            pos = raw;
            continue;
        }
        const std::size_t close = TagEnd(xml, open);
        if (close == std::string::npos) {
            return std::nullopt;
        }
        if (xml[open + 1] == '/') {
            if (--depth == 0) {
                split.contentEnd = open;
                return split.ends.empty() ? std::nullopt : std::optional(std::move(split));
            }
            if (depth == 1) {
                split.ends.push_back(close);
            }
        } else if (xml[close - 2] == '/') {
            if (depth == 1) {
                split.ends.push_back(close);
            }
        } else if (++depth > kMaxDepth + 1) {
            return std::nullopt;
        }
        pos = close;
    }
}

// Reads a UTF-8 list a child at a time, so that the tree of the whole list
// never exists beside its entries: the list without its children is parsed
// and checked as the whole file would be, then each child alone. nullopt
// when the file is read whole instead (another encoding, text beside the
// records, or any piece that does not parse alone, whose error the whole
// parse then tells with its offset in the file).
std::optional<Status> ParseByChildren(const std::string& data, const std::string& where,
                                      ServiceList& list) {
    const std::optional<ChildSplit> split = SplitAtChildren(data);
    if (!split) {
        return std::nullopt;
    }
    std::string skeleton = data.substr(0, split->contentStart) + data.substr(split->contentEnd);
    pugi::xml_document doc;
    pugi::xml_encoding encoding = pugi::encoding_auto;
    if (!ParseTree(skeleton, where, doc, &encoding) || encoding != pugi::encoding_utf8) {
        return std::nullopt;
    }
    // An internal subset, or markup inside the document type, may be read
    // by pugixml across what the split took for children (a bracket left
    // open, a quote inside an instruction); only the whole file tells how
    // it reads.
    for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_doctype &&
            std::string_view(node.value()).find_first_of("[]<") != std::string_view::npos) {
            return std::nullopt;
        }
    }
    list.entries.clear();
    list.entries.reserve(split->ends.size());
    std::size_t from = split->contentStart;
    for (const std::size_t to : split->ends) {
        pugi::xml_document part;
        const pugi::xml_parse_result parsed = part.load_buffer(
            data.data() + from, to - from, kParseFlags | pugi::parse_fragment, pugi::encoding_utf8);
        const pugi::xml_node child = part.first_child();
        if (!parsed || !child || child.next_sibling() || ElementDepth(part) + 1 > kMaxDepth) {
            list.entries.clear();
            return std::nullopt;
        }
        BlankControlsXmlCannotHold(part);
        list.entries.push_back(MakeEntry(child));
        from = to;
    }
    return SplitAroundEntries(doc, list, where);
}

}  // namespace

Status Parse(std::string data, const std::string& where, ServiceList& list) {
    if (Status decoded = DecodeDeclaredEncoding(data, where); !decoded) {
        return decoded;
    }
    if (std::optional<Status> byChildren = ParseByChildren(data, where, list)) {
        return *byChildren;
    }
    pugi::xml_document doc;  // goes before data, which holds its texts
    if (Status parsed = ParseTree(data, where, doc); !parsed) {
        return parsed;
    }
    // Each child becomes an entry and leaves the tree, whose memory goes
    // back page by page as the entries take their own.
    pugi::xml_node root = doc.document_element();
    list.entries.clear();
    for (pugi::xml_node child = root.first_child(); child; child = root.first_child()) {
        list.entries.push_back(MakeEntry(child));
        root.remove_child(child);
    }
    return SplitAroundEntries(doc, list, where);
}

bool Save(const ServiceList& list, int fd) {
    FileWriter writer(fd);
    const auto write = [&writer](std::string_view piece) {
        writer.write(piece.data(), piece.size());
    };
    write(list.head);
    if (!list.entries.empty()) {
        // The breaks and indents pugixml puts between the children of an
        // element: none after a text.
        bool indent = !list.listHasText;
        for (const ServiceEntry& entry : list.entries) {
            const bool text = entry.kind == ServiceEntry::Kind::Text;
            if (indent && !text) {
                write("\n");
                write(kIndent);
            }
            write(entry.body);
            indent = !text;
        }
        if (indent) {
            write("\n");
        }
    }
    write(list.tail);
    return writer.finish();
}

ServiceEntry MakeEntry(pugi::xml_node node) {
    ServiceEntry entry;
    std::string body = Print(node, 1);
    switch (node.type()) {
        case pugi::node_element:
            entry.kind = ServiceEntry::Kind::Record;
            break;
        case pugi::node_pcdata:
        case pugi::node_cdata:
            entry.kind = ServiceEntry::Kind::Text;
            break;
        default:
            entry.kind = ServiceEntry::Kind::Markup;
            break;
    }
    if (entry.kind != ServiceEntry::Kind::Text) {
        // Written alone, a child comes indented and ends its line.
        const std::size_t indent = std::strlen(kIndent);
        const std::size_t from = body.compare(0, indent, kIndent) == 0 ? indent : 0;
        if (!body.empty() && body.back() == '\n') {
            body.pop_back();
        }
        body.erase(0, from);
    }
    entry.body = EscapeTextCarriageReturns(std::move(body));
    if (entry.kind == ServiceEntry::Kind::Record) {
        IndexEntry(entry, node);
    }
    return entry;
}

pugi::xml_node TreeOf(const ServiceEntry& entry, pugi::xml_document& doc) {
    const pugi::xml_parse_result parsed =
        doc.load_buffer(entry.body.data(), entry.body.size(), kParseFlags, pugi::encoding_utf8);
    return parsed ? doc.document_element() : pugi::xml_node();
}

bool WrittenAsItReads(std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '&' || c == '<' || c == '>' || c == '"' || c == '\'' || c == '\r' ||
            (u < 0x20 && c != '\t' && c != '\n')) {
            return false;
        }
    }
    return true;
}

void SetChildText(pugi::xml_node parent, const char* name, std::string_view value) {
    pugi::xml_node child = parent.child(name);
    if (!child) {
        child = parent.append_child(name);
    }
    // Drop any old content (several text nodes, comments) so that the element
    // reads back as exactly this value.
    while (child.first_child()) {
        child.remove_child(child.first_child());
    }
    // Replaces a text kept in the element itself, or adds one.
    child.text().set(std::string(value).c_str());
}

void WriteRecord(pugi::xml_node record, const ServiceFields& f, std::string_view runState,
                 bool append) {
    auto put = append ? AppendChildText : SetChildText;
    const ServiceFields defaults;
    for (const ElementEntry& entry : Elements()) {
        if (entry.group == ElementGroup::Record) {
            const std::string_view value = entry.element == Element::ServiceStatus ? words::kUnknown
                                           : entry.element == Element::Status      ? runState
                                                                                   : f.*entry.field;
            put(record, entry.name, value);
        } else if (entry.group == ElementGroup::Optional) {
            // Records from before the element save as they were.
            if (record.child(entry.name) || f.*entry.field != defaults.*entry.field) {
                SetChildText(record, entry.name, f.*entry.field);
            }
        }
    }
}

void WriteUrlGroup(pugi::xml_node record, const UrlRequestFields& r, bool append) {
    pugi::xml_node group = record.child(kUrlGroupElement);
    if (!group) {
        group = record.append_child(kUrlGroupElement);
    }
    auto put = append ? AppendChildText : SetChildText;
    for (const ElementEntry& entry : Elements()) {
        if (entry.group == ElementGroup::UrlRequest) {
            put(group, entry.name, r.*entry.request);
        }
    }
}

void WriteExtraFields(pugi::xml_node record, const std::vector<ExtraField>& fields) {
    while (pugi::xml_node old = record.child(kExtraFieldElement)) {
        record.remove_child(old);
    }
    for (const ExtraField& field : fields) {
        pugi::xml_node detail = record.append_child(kExtraFieldElement);
        AppendChildText(detail, kExtraNameElement, field.name);
        AppendChildText(detail, kExtraValueElement, field.value);
        AppendChildText(detail, kExtraIsFileElement, "n");
    }
}

}  // namespace vantor::registry::xml
