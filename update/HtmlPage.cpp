#include "update/HtmlPage.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <cstring>
#include <gumbo.h>
#include <memory>
#include <vector>

namespace {

QString fromUtf8(const char* data, size_t length) {
    return QString::fromUtf8(data, static_cast<qsizetype>(length));
}

QString attribute(const GumboNode* node, const char* name) {
    const GumboAttribute* attr = gumbo_get_attribute(&node->v.element.attributes, name);
    return attr ? QString::fromUtf8(attr->value) : QString();
}

bool hasAttribute(const GumboNode* node, const char* name) {
    return gumbo_get_attribute(&node->v.element.attributes, name) != nullptr;
}

// Charset named in a Content-Type header or a <meta> tag, lower case; empty when none.
QByteArray charsetIn(const QByteArray& text) {
    static const QRegularExpression charset(QStringLiteral("charset\\s*=\\s*[\"']?([A-Za-z0-9_.:-]+)"),
                                            QRegularExpression::CaseInsensitiveOption);
    const auto match = charset.match(QString::fromLatin1(text));
    return match.hasMatch() ? match.captured(1).toLower().toLatin1() : QByteArray();
}

// The page as text. Gumbo wants UTF-8; pages in a one-byte charset (the usual
// windows-1252 of older servers) are read as Latin-1, which agrees on every letter.
QString decode(const QByteArray& bytes, const QByteArray& contentType) {
    QByteArray declared = charsetIn(contentType);
    if (declared.isEmpty()) {
        static const QRegularExpression meta(QStringLiteral("<meta[^>]*charset[^>]*>"),
                                             QRegularExpression::CaseInsensitiveOption);
        const auto match = meta.match(QString::fromLatin1(bytes.left(4096)));
        if (match.hasMatch())
            declared = charsetIn(match.captured(0).toLatin1());
    }
    if (declared.isEmpty() || declared == "utf-8" || declared == "utf8") {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8.decode(bytes);
        if (!utf8.hasError() || !declared.isEmpty())
            return text;
        return QString::fromLatin1(bytes);
    }
    if (auto encoding = QStringConverter::encodingForName(declared.constData())) {
        QStringDecoder decoder(*encoding);
        return decoder.decode(bytes);
    }
    return QString::fromLatin1(bytes);
}

bool isBlock(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_LEGEND:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_P:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_UL:
        return true;
    default:
        return false;
    }
}

bool isHidden(GumboTag tag) {
    return tag == GUMBO_TAG_SCRIPT || tag == GUMBO_TAG_STYLE || tag == GUMBO_TAG_HEAD ||
           tag == GUMBO_TAG_TITLE || tag == GUMBO_TAG_TEMPLATE || tag == GUMBO_TAG_NOSCRIPT;
}

// Writes text with white space collapsed and block boundaries as single line breaks.
class TextWriter {
  public:
    void text(const QString& chunk) {
        for (const QChar c : chunk) {
            if (c.isSpace()) {
                m_space = true;
                continue;
            }
            if (m_newline) {
                if (!m_out.isEmpty())
                    m_out += QLatin1Char('\n');
            } else if (m_space && !m_out.isEmpty()) {
                m_out += QLatin1Char(' ');
            }
            m_newline = false;
            m_space = false;
            m_out += c;
        }
    }
    void lineBreak() { m_newline = true; }
    void blank() { m_space = true; }
    QString result() const { return m_out; }

  private:
    QString m_out;
    bool m_space = false;
    bool m_newline = false;
};

// Whether a node's children are rendered; writes what comes before them.
bool renderOpen(const GumboNode* node, TextWriter& out) {
    if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_CDATA ||
        node->type == GUMBO_NODE_WHITESPACE) {
        out.text(QString::fromUtf8(node->v.text.text));
        return false;
    }
    if (node->type != GUMBO_NODE_ELEMENT)
        return false;
    const GumboTag tag = node->v.element.tag;
    if (isHidden(tag))
        return false;
    if (tag == GUMBO_TAG_BR) {
        out.lineBreak();
        return false;
    }
    if (isBlock(tag))
        out.lineBreak();
    if (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH)
        out.blank();
    return true;
}

void renderClose(const GumboNode* node, TextWriter& out) {
    const GumboTag tag = node->v.element.tag;
    if (isBlock(tag))
        out.lineBreak();
    if (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH)
        out.blank();
}

// Walks the tree with a stack of its own: a hostile page nests elements far deeper
// than the call stack could follow.
void render(const GumboNode* root, TextWriter& out) {
    struct Frame {
        const GumboNode* node;
        unsigned next;
    };
    std::vector<Frame> stack;
    if (renderOpen(root, out))
        stack.push_back({root, 0});
    while (!stack.empty()) {
        Frame& top = stack.back();
        const GumboVector& children = top.node->v.element.children;
        if (top.next < children.length) {
            const auto* child = static_cast<const GumboNode*>(children.data[top.next++]);
            if (renderOpen(child, out))
                stack.push_back({child, 0});
        } else {
            const GumboNode* node = top.node;
            stack.pop_back();
            renderClose(node, out);
        }
    }
}

QString collapsedText(const GumboNode* node) {
    TextWriter writer;
    render(node, writer);
    return writer.result();
}

QString rawText(const GumboNode* node) {
    QString text;
    const GumboVector& children = node->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
        const auto* child = static_cast<const GumboNode*>(children.data[i]);
        if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE)
            text += QString::fromUtf8(child->v.text.text);
    }
    return text;
}

const GumboVector* childrenOf(const GumboNode* node) {
    if (node->type == GUMBO_NODE_DOCUMENT)
        return &node->v.document.children;
    if (node->type == GUMBO_NODE_ELEMENT)
        return &node->v.element.children;
    return nullptr;
}

// The first element with the tag, in document order.
const GumboNode* findElement(const GumboNode* root, GumboTag tag) {
    std::vector<const GumboNode*> stack{root};
    while (!stack.empty()) {
        const GumboNode* node = stack.back();
        stack.pop_back();
        if (node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == tag)
            return node;
        if (const GumboVector* children = childrenOf(node)) {
            for (unsigned i = children->length; i > 0; --i)
                stack.push_back(static_cast<const GumboNode*>(children->data[i - 1]));
        }
    }
    return nullptr;
}

// Tags and attributes in the page, counted before parsing: every '<' followed by a
// letter or '/' is a tag, and every name inside a start tag is an attribute. Quoted
// values are skipped; comments count as one tag. Stops counting past limit.
qsizetype markupItems(const QByteArray& bytes, qsizetype limit) {
    const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; };
    const qsizetype size = bytes.size();
    const char* data = bytes.constData();
    qsizetype count = 0;
    qsizetype i = 0;
    while (i + 1 < size && count <= limit) {
        if (data[i] != '<' || !(isLetter(data[i + 1]) || data[i + 1] == '/' || data[i + 1] == '!')) {
            ++i;
            continue;
        }
        ++count;
        const bool startTag = isLetter(data[i + 1]);
        i += 2;
        if (!startTag) {
            while (i < size && data[i] != '>')
                ++i;
            continue;
        }
        // Inside a start tag: the tag's name, then attribute names, each perhaps with
        // "=" and a value (quoted, or up to the next blank or '>').
        while (i < size && !isSpace(data[i]) && data[i] != '>' && data[i] != '/')
            ++i;
        while (i < size && data[i] != '>' && count <= limit) {
            if (isSpace(data[i]) || data[i] == '/') {
                ++i;
                continue;
            }
            ++count; // an attribute's name
            while (i < size && !isSpace(data[i]) && data[i] != '>' && data[i] != '/' && data[i] != '=')
                ++i;
            while (i < size && isSpace(data[i]))
                ++i;
            if (i >= size || data[i] != '=')
                continue;
            ++i;
            while (i < size && isSpace(data[i]))
                ++i;
            if (i < size && (data[i] == '"' || data[i] == '\'')) {
                const char* end =
                    static_cast<const char*>(std::memchr(data + i + 1, data[i], size_t(size - i - 1)));
                i = end ? (end - data) + 1 : size;
            } else {
                while (i < size && !isSpace(data[i]) && data[i] != '>')
                    ++i;
            }
        }
    }
    return count;
}

size_t startOffset(const GumboNode* node) {
    switch (node->type) {
    case GUMBO_NODE_ELEMENT:
    case GUMBO_NODE_TEMPLATE:
        return node->v.element.start_pos.offset;
    case GUMBO_NODE_DOCUMENT:
        return 0;
    default:
        return node->v.text.start_pos.offset;
    }
}

// Parse errors are never read. Gumbo would copy the whole stack of open elements into
// each one, which a deeply nested page turns into gigabytes.
GumboOptions parseOptions() {
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;
    return options;
}

const GumboOptions kParseOptions = parseOptions();

struct GumboDeleter {
    void operator()(GumboOutput* output) const { gumbo_destroy_output(&kParseOptions, output); }
};

} // namespace

// Walks the parsed tree and fills the page's controls and forms.
class HtmlPageBuilder {
  public:
    explicit HtmlPageBuilder(HtmlPage& page) : m_page(page) {}

    // In document order, with a stack of its own (see render()).
    void walk(const GumboNode* root) {
        struct Item {
            const GumboNode* node;
            int form;
            bool disabled;
        };
        std::vector<Item> stack{{root, -1, false}};
        while (!stack.empty()) {
            auto [node, form, disabled] = stack.back();
            stack.pop_back();
            if (!visit(node, form, disabled))
                continue;
            const GumboVector& children = node->v.element.children;
            for (unsigned i = children.length; i > 0; --i)
                stack.push_back({static_cast<const GumboNode*>(children.data[i - 1]), form, disabled});
        }
    }

  private:
    // Takes in one element; true when its children are to be walked, with form and
    // disabled updated for them.
    bool visit(const GumboNode* node, int& form, bool& disabled) {
        if (node->type != GUMBO_NODE_ELEMENT)
            return false;
        const GumboTag tag = node->v.element.tag;
        switch (tag) {
        case GUMBO_TAG_FORM:
            m_page.m_forms.append({attribute(node, "method").trimmed().toLower(), attribute(node, "action")});
            form = static_cast<int>(m_page.m_forms.size() - 1);
            break;
        case GUMBO_TAG_FIELDSET:
            disabled = disabled || hasAttribute(node, "disabled");
            break;
        case GUMBO_TAG_BASE:
            if (!m_baseSeen && hasAttribute(node, "href")) {
                m_baseSeen = true;
                m_page.m_baseUrl = m_page.m_url.resolved(QUrl(attribute(node, "href").trimmed()));
            }
            break;
        case GUMBO_TAG_INPUT:
        case GUMBO_TAG_TEXTAREA:
        case GUMBO_TAG_SELECT:
            addControl(node, form, disabled);
            return tag == GUMBO_TAG_SELECT;
        default:
            break;
        }
        return true;
    }

    void addControl(const GumboNode* node, int form, bool disabled) {
        HtmlPage::Control control;
        control.name = attribute(node, "name");
        control.id = attribute(node, "id");
        control.form = form;
        control.disabled = disabled || hasAttribute(node, "disabled");
        switch (node->v.element.tag) {
        case GUMBO_TAG_INPUT:
            control.tag = QStringLiteral("input");
            control.type = attribute(node, "type").trimmed().toLower();
            if (control.type.isEmpty())
                control.type = QStringLiteral("text");
            control.checked = hasAttribute(node, "checked");
            control.value = attribute(node, "value");
            if ((control.type == QLatin1String("checkbox") || control.type == QLatin1String("radio")) &&
                !hasAttribute(node, "value"))
                control.value = QStringLiteral("on");
            break;
        case GUMBO_TAG_TEXTAREA:
            control.tag = QStringLiteral("textarea");
            control.value = rawText(node);
            break;
        default:
            control.tag = QStringLiteral("select");
            collectOptions(node, control);
            if (control.selected.isEmpty() && !control.options.isEmpty() && !hasAttribute(node, "multiple"))
                control.selected.append(control.options.constFirst());
            break;
        }
        m_page.m_controls.append(control);
    }

    void collectOptions(const GumboNode* node, HtmlPage::Control& control) {
        const GumboVector& children = node->v.element.children;
        for (unsigned i = 0; i < children.length; ++i) {
            const auto* child = static_cast<const GumboNode*>(children.data[i]);
            if (child->type != GUMBO_NODE_ELEMENT)
                continue;
            if (child->v.element.tag == GUMBO_TAG_OPTGROUP) {
                collectOptions(child, control);
            } else if (child->v.element.tag == GUMBO_TAG_OPTION) {
                const QString value =
                    hasAttribute(child, "value") ? attribute(child, "value") : collapsedText(child).trimmed();
                control.options.append(value);
                if (hasAttribute(child, "selected"))
                    control.selected.append(value);
            }
        }
    }

    HtmlPage& m_page;
    bool m_baseSeen = false;
};

HtmlPage::HtmlPage(const QByteArray& bytes, const QUrl& url, const QByteArray& contentType)
    : m_url(url), m_baseUrl(url), m_empty(bytes.isEmpty()) {
    // Counted in what the parser gets: in UTF-16 or UTF-32 no '<' of the page is a byte
    // of its own, and a count of the raw bytes finds no tags at all. Decoding a page of
    // the size cap costs milliseconds; parsing past the cap costs seconds and gigabytes.
    const QByteArray utf8 = decode(bytes, contentType).toUtf8();
    if (markupItems(utf8, kMostMarkupItems) > kMostMarkupItems)
        return;
    const std::unique_ptr<GumboOutput, GumboDeleter> output(
        gumbo_parse_with_options(&kParseOptions, utf8.constData(), static_cast<size_t>(utf8.size())));
    if (!output)
        return;

    if (const GumboNode* body = findElement(output->document, GUMBO_TAG_BODY)) {
        const GumboElement& element = body->v.element;
        size_t from = 0;
        if (element.original_tag.length > 0)
            from = element.start_pos.offset + element.original_tag.length;
        else if (element.children.length > 0)
            from = startOffset(static_cast<const GumboNode*>(element.children.data[0]));
        else
            from = static_cast<size_t>(utf8.size());
        size_t to = static_cast<size_t>(utf8.size());
        if (element.original_end_tag.length > 0)
            to = element.end_pos.offset;
        if (from < to && to <= static_cast<size_t>(utf8.size()))
            m_bodyHtml = fromUtf8(utf8.constData() + from, to - from);
        m_bodyText = collapsedText(body);
    }
    HtmlPageBuilder(*this).walk(output->root);
}

HtmlPage::Control* HtmlPage::find(const QString& nameOrId) {
    return const_cast<Control*>(std::as_const(*this).find(nameOrId));
}

const HtmlPage::Control* HtmlPage::find(const QString& nameOrId) const {
    for (const Control& control : m_controls) {
        if (control.name == nameOrId)
            return &control;
    }
    for (const Control& control : m_controls) {
        if (control.id == nameOrId)
            return &control;
    }
    return nullptr;
}

bool HtmlPage::setValue(const QString& nameOrId, const QString& value) {
    Control* control = find(nameOrId);
    if (!control)
        return false;
    if (control->tag == QLatin1String("select"))
        control->selected = QStringList{value};
    else
        control->value = value;
    return true;
}

std::optional<QString> HtmlPage::value(const QString& nameOrId) const {
    const Control* control = find(nameOrId);
    if (!control)
        return std::nullopt;
    if (control->tag == QLatin1String("select"))
        return control->selected.isEmpty() ? QString() : control->selected.constFirst();
    return control->value;
}

std::optional<HtmlPage::Submission> HtmlPage::firstFormSubmission() const {
    if (m_forms.isEmpty())
        return std::nullopt;
    const Form& form = m_forms.constFirst();

    QList<std::pair<QString, QString>> pairs;
    for (const Control& control : m_controls) {
        if (control.form != 0 || control.disabled || control.name.isEmpty())
            continue;
        if (control.tag == QLatin1String("select")) {
            for (const QString& value : control.selected)
                pairs.append({control.name, value});
            continue;
        }
        const QString& type = control.type;
        // Buttons count only as the submitter, and a script-style submit has none.
        if (type == QLatin1String("submit") || type == QLatin1String("button") ||
            type == QLatin1String("reset") || type == QLatin1String("image") || type == QLatin1String("file"))
            continue;
        if ((type == QLatin1String("checkbox") || type == QLatin1String("radio")) && !control.checked)
            continue;
        pairs.append({control.name, control.value});
    }

    Submission submission;
    const QString action = form.action.trimmed();
    QUrl target = action.isEmpty() ? m_url : m_baseUrl.resolved(QUrl(action));
    target.setFragment({});
    const QByteArray data = formEncode(pairs);
    if (form.method == QLatin1String("post")) {
        submission.method = "POST";
        submission.body = data;
    } else {
        submission.method = "GET";
        target.setQuery(QString::fromLatin1(data), QUrl::StrictMode);
    }
    submission.url = target;
    return submission;
}

QByteArray HtmlPage::formEncode(const QList<std::pair<QString, QString>>& pairs) {
    auto encode = [](const QString& text) {
        QByteArray out;
        QString normalised = text;
        // Browsers send line ends as CR LF.
        normalised.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        normalised.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        normalised.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        for (const char c : normalised.toUtf8()) {
            const auto u = static_cast<unsigned char>(c);
            if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '*' ||
                u == '-' || u == '.' || u == '_') {
                out += c;
            } else if (u == ' ') {
                out += '+';
            } else {
                out += '%';
                out += QByteArray::number(u, 16).toUpper().rightJustified(2, '0');
            }
        }
        return out;
    };
    QByteArray out;
    for (const auto& [name, value] : pairs) {
        if (!out.isEmpty())
            out += '&';
        out += encode(name) + '=' + encode(value);
    }
    return out;
}
