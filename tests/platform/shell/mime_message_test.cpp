#include "platform/shell/mime_message.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string DecodeBase64(const std::string& Text)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (char c : Text) {
        std::size_t k = alphabet.find(c);
        if (k == std::string::npos)
            continue; // line breaks and padding
        value = (value << 6) | static_cast<unsigned>(k);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

// Decodes a run of "=?UTF-8?B?...?=" words separated by folding.
std::string DecodeEncodedWords(const std::string& Text)
{
    std::string out;
    std::size_t pos = 0;
    while ((pos = Text.find("=?UTF-8?B?", pos)) != std::string::npos) {
        std::size_t end = Text.find("?=", pos + 10);
        out += DecodeBase64(Text.substr(pos + 10, end - pos - 10));
        pos = end + 2;
    }
    return out;
}

TEST(Base64, KnownVectorsAndLineLength)
{
    EXPECT_EQ(EncodeBase64(""), "");
    EXPECT_EQ(EncodeBase64("f"), "Zg==");
    EXPECT_EQ(EncodeBase64("fo"), "Zm8=");
    EXPECT_EQ(EncodeBase64("foo"), "Zm9v");
    EXPECT_EQ(EncodeBase64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(EncodeBase64(std::string("\0\xff\x80", 3)), "AP+A");

    std::string data;
    for (int i = 0; i < 1000; ++i)
        data += static_cast<char>(i * 7);
    std::string lines = EncodeBase64Lines(data);
    std::size_t start = 0;
    while (start < lines.size()) {
        std::size_t lf = lines.find('\n', start);
        ASSERT_NE(lf, std::string::npos);
        EXPECT_LE(lf - start, 76u);
        start = lf + 1;
    }
    EXPECT_EQ(DecodeBase64(lines), data);
    EXPECT_EQ(EncodeBase64Lines(""), "");
}

TEST(HeaderText, PlainAsciiStaysAndLineBreaksCannotStartHeaders)
{
    EXPECT_EQ(EncodeHeaderText("Tabrix 4.61"), "Tabrix 4.61");
    std::string injected = EncodeHeaderText("Report\r\nBcc: everyone@example.com");
    EXPECT_EQ(injected.find('\r'), std::string::npos);
    EXPECT_EQ(injected.find('\n'), std::string::npos);
    EXPECT_EQ(injected, "Report Bcc: everyone@example.com");
}

TEST(HeaderText, NonAsciiBecomesShortWordsSplitBetweenCharacters)
{
    // Many two-byte letters, so that a 45-byte cut would fall inside one.
    std::string text = "Bericht f\xC3\xBCr J\xC3\xBCrgen: ";
    for (int i = 0; i < 30; ++i)
        text += "\xC3\xA4\xC3\xB6\xC3\xBC";
    std::string encoded = EncodeHeaderText(text);
    EXPECT_EQ(DecodeEncodedWords(encoded), text);
    std::size_t pos = 0;
    while ((pos = encoded.find("=?UTF-8?B?", pos)) != std::string::npos) {
        std::size_t end = encoded.find("?=", pos + 10) + 2;
        EXPECT_LE(end - pos, 75u);
        std::string bytes = DecodeBase64(encoded.substr(pos + 10, end - pos - 12));
        ASSERT_FALSE(bytes.empty());
        EXPECT_NE(static_cast<unsigned char>(bytes.front()) & 0xC0, 0x80u) << "word starts inside a letter";
        pos = end;
    }
    // Folded lines continue with a blank.
    for (std::size_t lf = encoded.find('\n'); lf != std::string::npos; lf = encoded.find('\n', lf + 1))
        EXPECT_EQ(encoded[lf + 1], ' ');
}

TEST(MimeParameter, QuotedAsciiOrRfc2231)
{
    EXPECT_EQ(EncodeMimeParameter("filename", "out 1.doc"), "filename=\"out 1.doc\"");
    EXPECT_EQ(EncodeMimeParameter("filename", "a\"b\\c.doc"), "filename=\"a\\\"b\\\\c.doc\"");
    EXPECT_EQ(EncodeMimeParameter("filename", "f\xC3\xBCr 1.doc"), "filename*=UTF-8''f%C3%BCr%201.doc");
    EXPECT_EQ(EncodeMimeParameter("filename", "a\nb"), "filename*=UTF-8''a%0Ab");
}

TEST(MailAddress, PlainAddressesOnly)
{
    EXPECT_TRUE(IsPlainMailAddress("juergen@example.com"));
    EXPECT_TRUE(IsPlainMailAddress("root"));
    EXPECT_FALSE(IsPlainMailAddress(""));
    EXPECT_FALSE(IsPlainMailAddress("a@example.com\nBcc: b@example.com"));
    EXPECT_FALSE(IsPlainMailAddress("a@example.com, b@example.com"));
    EXPECT_FALSE(IsPlainMailAddress("Name <a@example.com>"));
    EXPECT_FALSE(IsPlainMailAddress(std::string("a\0b", 3)));
}

TEST(MailFileName, LastPathComponent)
{
    EXPECT_EQ(MailFileName("/tmp/out/Bericht 1.doc"), "Bericht 1.doc");
    EXPECT_EQ(MailFileName("plain.doc"), "plain.doc");
}

TEST(MimeEnvelope, TextOnlyMessageIsOnePart)
{
    TMailMessage m;
    m.Subject = "Tabrix 4.61";
    m.NoteText = "Hello\r\nsecond line";
    m.Recipient = TMailRecipient{"a@example.com", "a@example.com"};
    TMimeEnvelope e = ComposeMimeEnvelope(m, "", "B");
    EXPECT_EQ(e.Tail, "");
    EXPECT_EQ(e.Head,
              "To: a@example.com\n"
              "Subject: Tabrix 4.61\n"
              "MIME-Version: 1.0\n"
              "Content-Type: text/plain; charset=UTF-8\n"
              "Content-Transfer-Encoding: 7bit\n"
              "\n"
              "Hello\nsecond line\n");
}

TEST(MimeEnvelope, NamedRecipientAndNonAsciiBodyAreEncoded)
{
    TMailMessage m;
    m.Subject = "S";
    m.NoteText = "Gr\xC3\xBC\xC3\x9F" "e\nJ\xC3\xBCrgen";
    m.Recipient = TMailRecipient{"Smith, John", "john@example.com"};
    TMimeEnvelope e = ComposeMimeEnvelope(m, "", "B");
    EXPECT_NE(e.Head.find("To: \"Smith, John\" <john@example.com>\n"), std::string::npos);
    std::size_t body = e.Head.find("Content-Transfer-Encoding: base64\n\n");
    ASSERT_NE(body, std::string::npos);
    EXPECT_EQ(DecodeBase64(e.Head.substr(body + 35)), "Gr\xC3\xBC\xC3\x9F" "e\r\nJ\xC3\xBCrgen");
}

TEST(MimeEnvelope, AttachmentPartNamesTheFileAndSurroundsThePayload)
{
    TMailMessage m;
    m.Subject = "S";
    m.NoteText = "see attachment";
    m.Attachment = "/tmp/x/Bericht f\xC3\xBCr J\xC3\xBCrgen 1.doc";
    std::string boundary = ChooseBoundary(m.NoteText);
    TMimeEnvelope e = ComposeMimeEnvelope(m, MailFileName(*m.Attachment), boundary);
    EXPECT_EQ(e.Head.find("To:"), std::string::npos);
    EXPECT_NE(e.Head.find("Content-Type: multipart/mixed;\n boundary=\"" + boundary + "\"\n"), std::string::npos);
    EXPECT_NE(e.Head.find("--" + boundary + "\nContent-Type: text/plain"), std::string::npos);
    EXPECT_NE(e.Head.find("filename*=UTF-8''Bericht%20f%C3%BCr%20J%C3%BCrgen%201.doc\n\n"), std::string::npos);
    EXPECT_NE(e.Head.find(" name=\"=?UTF-8?B?"), std::string::npos);
    EXPECT_EQ(e.Head.substr(e.Head.size() - 2), "\n\n");
    EXPECT_EQ(e.Tail, "--" + boundary + "--\n");
}

TEST(MimeEnvelope, BoundaryNeverOccursInTheBody)
{
    std::string first = ChooseBoundary("");
    std::string second = ChooseBoundary("");
    EXPECT_NE(first, second);
    std::string body = "text " + first;
    EXPECT_EQ(body.find(ChooseBoundary(body)), std::string::npos);
}

} // namespace
