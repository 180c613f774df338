#include "mime_message.h"

#include <cstdio>
#include <random>

namespace {
const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Longest header or body line a message may carry (RFC 5322), without the line break.
const std::size_t kMaxLineLength = 998;

bool IsPrintableAscii(const std::string& Text)
{
    for (unsigned char c : Text)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

// Control characters (line breaks above all) become blanks; a CR LF pair becomes one.
std::string FlattenControls(const std::string& Text)
{
    std::string out;
    out.reserve(Text.size());
    for (std::size_t i = 0; i < Text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(Text[i]);
        if (c == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n')
            continue;
        out += (c < 0x20 || c == 0x7F) ? ' ' : Text[i];
    }
    return out;
}

std::string EncodedWord(const std::string& Bytes)
{
    return "=?UTF-8?B?" + EncodeBase64(Bytes) + "?=";
}

// Body text with every line break as LF.
std::string NormalizeLineBreaks(const std::string& Text)
{
    std::string out;
    out.reserve(Text.size());
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '\r') {
            out += '\n';
            if (i + 1 < Text.size() && Text[i + 1] == '\n')
                ++i;
        } else {
            out += Text[i];
        }
    }
    return out;
}

bool FitsSevenBit(const std::string& Body)
{
    std::size_t lineLength = 0;
    for (unsigned char c : Body) {
        if (c == '\n') {
            lineLength = 0;
            continue;
        }
        if (c == 0 || c > 0x7F || ++lineLength > kMaxLineLength)
            return false;
    }
    return true;
}

std::string QuotedString(const std::string& Text)
{
    std::string out = "\"";
    for (char c : Text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string DisplayName(const std::string& Name)
{
    std::string flat = FlattenControls(Name);
    if (IsPrintableAscii(flat))
        return QuotedString(flat);
    return EncodeHeaderText(flat);
}

// The text part's headers and content (ending in LF).
std::string TextPart(const std::string& NoteText)
{
    std::string body = NormalizeLineBreaks(NoteText);
    std::string part = "Content-Type: text/plain; charset=UTF-8\n";
    if (FitsSevenBit(body)) {
        part += "Content-Transfer-Encoding: 7bit\n\n" + body;
        if (body.empty() || body.back() != '\n')
            part += '\n';
        return part;
    }
    std::string canonical;
    canonical.reserve(body.size() + body.size() / 32);
    for (char c : body) {
        if (c == '\n')
            canonical += '\r';
        canonical += c;
    }
    return part + "Content-Transfer-Encoding: base64\n\n" + EncodeBase64Lines(canonical);
}
} // namespace

std::string EncodeBase64(const std::string& Data)
{
    std::string out;
    out.reserve((Data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    const auto byte = [&Data](std::size_t k) { return static_cast<unsigned char>(Data[k]); };
    for (; i + 3 <= Data.size(); i += 3) {
        unsigned v = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
        out += kBase64Alphabet[(v >> 18) & 63];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += kBase64Alphabet[(v >> 6) & 63];
        out += kBase64Alphabet[v & 63];
    }
    std::size_t rest = Data.size() - i;
    if (rest > 0) {
        unsigned v = byte(i) << 16;
        if (rest == 2)
            v |= byte(i + 1) << 8;
        out += kBase64Alphabet[(v >> 18) & 63];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string EncodeBase64Lines(const std::string& Data)
{
    const std::size_t bytesPerLine = 57; // 76 characters
    std::string out;
    out.reserve((Data.size() + 2) / 3 * 4 + Data.size() / bytesPerLine + 1);
    for (std::size_t i = 0; i < Data.size(); i += bytesPerLine) {
        out += EncodeBase64(Data.substr(i, bytesPerLine));
        out += '\n';
    }
    return out;
}

std::string EncodeHeaderText(const std::string& Text)
{
    std::string flat = FlattenControls(Text);
    if (IsPrintableAscii(flat) && flat.size() <= kMaxLineLength - 80)
        return flat;
    // 45 bytes give 60 base64 characters, 72 with the word's frame.
    const std::size_t maxBytes = 45;
    std::string out;
    std::size_t start = 0;
    while (start < flat.size()) {
        std::size_t end = std::min(flat.size(), start + maxBytes);
        // Never split a UTF-8 sequence: step back over continuation bytes.
        while (end < flat.size() && end > start + 1 && (static_cast<unsigned char>(flat[end]) & 0xC0) == 0x80)
            --end;
        if (!out.empty())
            out += "\n ";
        out += EncodedWord(flat.substr(start, end - start));
        start = end;
    }
    return out;
}

std::string EncodeMimeParameter(const std::string& Name, const std::string& Value)
{
    if (IsPrintableAscii(Value))
        return Name + "=" + QuotedString(Value);
    std::string out = Name + "*=UTF-8''";
    for (unsigned char c : Value) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.'
                     || c == '-' || c == '_' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

bool IsPlainMailAddress(const std::string& Address)
{
    if (Address.empty() || Address.size() > 320)
        return false;
    for (unsigned char c : Address) {
        if (c <= 0x20 || c == 0x7F)
            return false;
        switch (c) {
        case '<': case '>': case ',': case ';': case '"': case '(': case ')':
            return false;
        default:
            break;
        }
    }
    return true;
}

std::string ChooseBoundary(const std::string& Body)
{
    std::random_device seed;
    std::mt19937_64 random((static_cast<unsigned long long>(seed()) << 32) ^ seed());
    for (;;) {
        char text[64];
        std::snprintf(text, sizeof text, "=_Tabrix_%016llx%08llx", static_cast<unsigned long long>(random()),
                      static_cast<unsigned long long>(random() & 0xFFFFFFFFu));
        if (Body.find(text) == std::string::npos)
            return text;
    }
}

std::string MailFileName(const std::string& Path)
{
#ifdef _WIN32
    std::size_t slash = Path.find_last_of("/\\");
#else
    std::size_t slash = Path.rfind('/');
#endif
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

TMimeEnvelope ComposeMimeEnvelope(const TMailMessage& Message, const std::string& AttachmentName,
                                  const std::string& Boundary)
{
    std::string head;
    if (Message.Recipient) {
        const TMailRecipient& r = *Message.Recipient;
        head += "To: ";
        if (!r.Name.empty() && r.Name != r.Address)
            head += DisplayName(r.Name) + " <" + r.Address + ">";
        else
            head += r.Address;
        head += '\n';
    }
    head += "Subject: " + EncodeHeaderText(Message.Subject) + "\n";
    head += "MIME-Version: 1.0\n";

    TMimeEnvelope envelope;
    if (!Message.Attachment) {
        envelope.Head = head + TextPart(Message.NoteText);
        return envelope;
    }
    head += "Content-Type: multipart/mixed;\n boundary=\"" + Boundary + "\"\n\n";
    head += "This is a multi-part message in MIME format.\n\n";
    head += "--" + Boundary + "\n" + TextPart(Message.NoteText);
    head += "--" + Boundary + "\n";
    std::string typeName = IsPrintableAscii(AttachmentName) ? EncodeMimeParameter("name", AttachmentName)
                                                            : "name=\"" + EncodedWord(AttachmentName) + "\"";
    head += "Content-Type: application/octet-stream;\n " + typeName + "\n";
    head += "Content-Transfer-Encoding: base64\n";
    head += "Content-Disposition: attachment;\n " + EncodeMimeParameter("filename", AttachmentName) + "\n\n";
    envelope.Head = head;
    envelope.Tail = "--" + Boundary + "--\n";
    return envelope;
}
