#include "trust/xml_reader.h"

#include <algorithm>
#include <utility>

namespace tolvessa {

namespace {

bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool IsNameStart(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u':' ||
           c >= 0xC0;
}

bool IsNameChar(char16_t c) {
    return IsNameStart(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == 0xB7;
}

// A character the XML grammar allows anywhere in a document.
bool IsXmlChar(char32_t cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

class Parser {
  public:
    explicit Parser(TextView text) : text_(text) {}

    XmlResult Run() {
        XmlResult result;
        XmlElement root;
        if (CheckCharacters() && Prolog() && Element(root, 1) && Epilog()) {
            result.root = std::move(root);
            return result;
        }
        result.error = error_;
        if (cut_ && !startTagCut_) {
            result.partial = std::move(root);
            result.cutAt = cutAt_;
        }
        return result;
    }

  private:
    bool AtEnd() const { return at_ >= text_.size(); }
    char16_t Peek() const { return AtEnd() ? u'\0' : text_[at_]; }
    bool LooksAt(TextView what) const { return text_.substr(at_).starts_with(what); }

    // Line and column (both from 1, the column in UTF-16 units) of a place in the text.
    std::pair<std::size_t, std::size_t> LineAndColumn(std::size_t at) const {
        at = std::min(at, text_.size());
        const TextView before = text_.substr(0, at);
        const std::size_t lineStart = before.rfind(u'\n');
        const auto line = static_cast<std::size_t>(std::count(before.begin(), before.end(), u'\n'));
        return {line + 1, lineStart == TextView::npos ? at + 1 : at - lineStart};
    }

    static Text Place(std::pair<std::size_t, std::size_t> place) {
        return u"line " + DecimalText(place.first) + u", column " + DecimalText(place.second);
    }

    // An error at the very end of the text, once the document element has begun, is the text
    // ending inside the document: it was cut short.
    bool Fail(TextView message) {
        if (error_.empty()) {
            error_ = Text(message) + u" (line " + DecimalText(LineAndColumn(at_).first) + u")";
            if (AtEnd() && !open_.empty()) {
                cut_ = true;
                const auto& [name, at] = open_.back();
                cutAt_ = u"inside <" + name + u"> opened on " + Place(LineAndColumn(at));
            }
        }
        return false;
    }

    // The whole text once, before any markup: control characters, non-characters and halves of
    // surrogate pairs are no XML anywhere.
    bool CheckCharacters() {
        for (at_ = 0; at_ < text_.size(); ++at_) {
            char32_t cp = text_[at_];
            if (cp >= 0xD800 && cp <= 0xDBFF && at_ + 1 < text_.size() &&
                text_[at_ + 1] >= 0xDC00 && text_[at_ + 1] <= 0xDFFF) {
                ++at_;
                continue;
            }
            if (!IsXmlChar(cp))
                return Fail(u"a character that XML does not allow");
        }
        at_ = 0;
        return true;
    }

    bool SkipSpace() {
        const std::size_t from = at_;
        while (!AtEnd() && IsSpace(Peek()))
            ++at_;
        return at_ != from;
    }

    // Moves past the next `end`; fails with `message` at the end of the text when there is none.
    bool SkipPast(TextView end, TextView message) {
        const std::size_t found = text_.find(end, at_);
        if (found == TextView::npos) {
            at_ = text_.size();
            return Fail(message);
        }
        at_ = found + end.size();
        return true;
    }

    bool Name(Text& out) {
        if (AtEnd() || !IsNameStart(Peek()))
            return Fail(u"a name was expected");
        const std::size_t from = at_;
        while (!AtEnd() && IsNameChar(Peek()))
            ++at_;
        out.assign(text_.substr(from, at_ - from));
        return true;
    }

    // Comments, processing instructions (the XML declaration among them) and white space.
    bool Misc(bool& any) {
        any = true;
        if (SkipSpace())
            return true;
        if (LooksAt(u"<!--")) {
            at_ += 4;
            return SkipPast(u"-->", u"a comment is not closed");
        }
        if (LooksAt(u"<?")) {
            at_ += 2;
            Text target;
            return Name(target) && SkipPast(u"?>", u"a processing instruction is not closed");
        }
        any = false;
        return true;
    }

    bool Prolog() {
        for (bool any = true; any;) {
            if (!Misc(any))
                return false;
        }
        if (LooksAt(u"<!DOCTYPE"))
            return Fail(u"document type declarations are not read");
        if (!LooksAt(u"<"))
            return Fail(AtEnd() ? u"no document element" : u"text before the document element");
        return true;
    }

    bool Epilog() {
        for (bool any = true; any;) {
            if (!Misc(any))
                return false;
        }
        return AtEnd() || Fail(u"content after the document element");
    }

    // "&...;" at the cursor, its character appended to `out`.
    bool Reference(Text& out) {
        ++at_;  // '&'
        if (Peek() == u'#') {
            ++at_;
            const bool hex = Peek() == u'x';
            if (hex)
                ++at_;
            char32_t value = 0;
            std::size_t digits = 0;
            for (; !AtEnd() && Peek() != u';'; ++at_, ++digits) {
                const char16_t c = Peek();
                const int digit = HexDigitValue(c);
                if (digit < 0 || (!hex && digit > 9))
                    return Fail(u"a character reference holds something other than digits");
                value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
                if (value > 0x10FFFF)
                    return Fail(u"a character reference past U+10FFFF");
            }
            if (AtEnd())
                return Fail(u"a character reference is not closed");
            ++at_;  // ';'
            if (digits == 0 || !IsXmlChar(value))
                return Fail(u"a character reference to a character that XML does not allow");
            AppendCodePoint(out, value);
            return true;
        }
        if (text_.find(u';', at_) == TextView::npos) {
            at_ = text_.size();
            return Fail(u"an entity reference is not closed");
        }
        static constexpr struct {
            TextView name;
            char16_t character;
        } kEntities[] = {
            {u"lt;", u'<'}, {u"gt;", u'>'}, {u"amp;", u'&'}, {u"apos;", u'\''}, {u"quot;", u'"'},
        };
        for (const auto& entity : kEntities) {
            if (LooksAt(entity.name)) {
                at_ += entity.name.size();
                out.push_back(entity.character);
                return true;
            }
        }
        return Fail(u"an entity reference other than the five predefined ones");
    }

    bool AttributeValue(Text& out) {
        const char16_t quote = Peek();
        if (quote != u'"' && quote != u'\'')
            return Fail(u"an attribute value must be quoted");
        ++at_;
        for (;;) {
            if (AtEnd())
                return Fail(u"an attribute value is not closed");
            const char16_t c = Peek();
            if (c == quote) {
                ++at_;
                return true;
            }
            if (c == u'<')
                return Fail(u"'<' inside an attribute value");
            if (c == u'&') {
                if (!Reference(out))
                    return false;
                continue;
            }
            ++at_;
            if (c == u'\r' && Peek() == u'\n')
                continue;  // a CR LF line end is one blank
            out.push_back(IsSpace(c) ? u' ' : c);
        }
    }

    bool Element(XmlElement& element, std::size_t depth) {
        if (depth > kMaxXmlDepth)
            return Fail(u"elements nested too deeply");
        const std::size_t start = at_;
        ++at_;                // '<'
        startTagCut_ = true;  // until the start tag is whole
        if (!Name(element.name))
            return false;
        open_.emplace_back(element.name, start);
        for (;;) {
            const bool spaced = SkipSpace();
            if (LooksAt(u"/>")) {
                at_ += 2;
                return Closed(element);
            }
            if (Peek() == u'>') {
                ++at_;
                startTagCut_ = false;
                return Content(element, depth) && Closed(element);
            }
            if (AtEnd())
                return Fail(u"a start tag is not closed");
            if (!spaced)
                return Fail(u"white space was expected between attributes");
            XmlAttribute attribute;
            if (!Name(attribute.name))
                return false;
            SkipSpace();
            if (Peek() != u'=')
                return Fail(u"'=' was expected after an attribute name");
            ++at_;
            SkipSpace();
            if (!AttributeValue(attribute.value))
                return false;
            if (element.Attribute(attribute.name))
                return Fail(u"an attribute appears twice in one element");
            element.attributes.push_back(std::move(attribute));
        }
    }

    bool Closed(XmlElement& element) {
        startTagCut_ = false;
        element.closed = true;
        open_.pop_back();
        return true;
    }

    bool Content(XmlElement& element, std::size_t depth) {
        Text ignored;
        for (;;) {
            if (AtEnd())
                return Fail(u"element <" + element.name + u"> is not closed");
            if (LooksAt(u"</")) {
                at_ += 2;
                Text name;
                if (!Name(name))
                    return false;
                if (name != element.name)
                    return Fail(u"</" + name + u"> closes <" + element.name + u">");
                SkipSpace();
                if (Peek() != u'>')
                    return Fail(u"an end tag is not closed");
                ++at_;
                return true;
            }
            if (LooksAt(u"<!--")) {
                at_ += 4;
                if (!SkipPast(u"-->", u"a comment is not closed"))
                    return false;
            } else if (LooksAt(u"<![CDATA[")) {
                at_ += 9;
                if (!SkipPast(u"]]>", u"a CDATA section is not closed"))
                    return false;
            } else if (LooksAt(u"<?")) {
                at_ += 2;
                Text target;
                if (!Name(target) || !SkipPast(u"?>", u"a processing instruction is not closed"))
                    return false;
            } else if (LooksAt(u"<!")) {
                return Fail(u"a declaration inside an element");
            } else if (Peek() == u'<') {
                element.children.emplace_back();
                if (!Element(element.children.back(), depth + 1)) {
                    // A child whose start tag is cut is no element at all.
                    if (cut_ && startTagCut_) {
                        element.children.pop_back();
                        startTagCut_ = false;
                    }
                    return false;
                }
            } else if (Peek() == u'&') {
                ignored.clear();
                if (!Reference(ignored))
                    return false;
            } else {
                // Character data, up to the next markup or reference.
                at_ = std::min(text_.find_first_of(u"<&", at_), text_.size());
            }
        }
    }

    TextView text_;
    std::size_t at_ = 0;
    Text error_;
    // The elements being read, innermost last: name and where its start tag begins.
    std::vector<std::pair<Text, std::size_t>> open_;
    bool startTagCut_ = false;  // the element being read has not finished its start tag
    bool cut_ = false;
    Text cutAt_;
};

Text Utf16Units(std::span<const std::uint8_t> bytes, bool bigEndian) {
    Text out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const unsigned first = bytes[i];
        const unsigned second = bytes[i + 1];
        out.push_back(
            static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first));
    }
    return out;
}

}  // namespace

TextView XmlElement::LocalName() const {
    const std::size_t colon = name.find(u':');
    return colon == Text::npos ? TextView(name) : TextView(name).substr(colon + 1);
}

std::optional<TextView> XmlElement::Attribute(TextView attributeName) const {
    for (const XmlAttribute& attribute : attributes) {
        if (attribute.name == attributeName)
            return TextView(attribute.value);
    }
    return std::nullopt;
}

std::optional<Text> DecodeXmlBytes(std::span<const std::uint8_t> bytes) {
    const auto starts = [&bytes](std::initializer_list<std::uint8_t> prefix) {
        return bytes.size() >= prefix.size() &&
               std::equal(prefix.begin(), prefix.end(), bytes.begin());
    };
    bool utf16 = false;
    bool bigEndian = false;
    if (starts({0xEF, 0xBB, 0xBF})) {
        bytes = bytes.subspan(3);
    } else if (starts({0xFF, 0xFE})) {
        utf16 = true;
        bytes = bytes.subspan(2);
    } else if (starts({0xFE, 0xFF})) {
        utf16 = bigEndian = true;
        bytes = bytes.subspan(2);
    } else if (starts({'<', 0x00})) {
        utf16 = true;
    } else if (starts({0x00, '<'})) {
        utf16 = bigEndian = true;
    }
    if (!utf16) {
        return Utf8ToText(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    return Utf16Units(bytes, bigEndian);
}

XmlResult ReadXml(std::span<const std::uint8_t> bytes) {
    const std::optional<Text> text = DecodeXmlBytes(bytes);
    if (text)
        return Parser(*text).Run();
    // UTF-16 with an odd number of bytes: cut inside a character, which tells only when the
    // text before that character ends inside the document element.
    const std::optional<Text> even = DecodeXmlBytes(bytes.first(bytes.size() - 1));
    XmlResult result = even ? Parser(*even).Run() : XmlResult();
    if (!result.partial) {
        result.root.reset();
        result.error = u"UTF-16 text with an odd number of bytes";
    }
    return result;
}

}  // namespace tolvessa
