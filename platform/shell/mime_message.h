#pragma once
// Building an Internet mail message (RFC 5322 / MIME) for a local mail transfer agent.
// Lines end in LF, the convention of a message handed to "sendmail" through a pipe.
// Texts are UTF-8.

#include "shell_services.h"

#include <cstddef>
#include <string>

// Base64 of Data in lines of 76 characters, each followed by LF (nothing for no data).
std::string EncodeBase64Lines(const std::string& Data);
// Base64 of Data in one piece, without line breaks.
std::string EncodeBase64(const std::string& Data);

// A header text as RFC 2047 encoded words ("=?UTF-8?B?...?="), split at character
// boundaries so that no word exceeds 75 characters, separated by LF and a blank
// (header folding). Plain printable ASCII is returned as it is. Line breaks and other
// control characters become blanks, so a text can never start a header of its own.
std::string EncodeHeaderText(const std::string& Text);

// A MIME parameter: Name="value" for printable ASCII (quotes and backslashes escaped),
// else the RFC 2231 form Name*=UTF-8''%XX... .
std::string EncodeMimeParameter(const std::string& Name, const std::string& Value);

// Whether Address can stand in an address header: not empty, and free of control
// characters, blanks and the characters that delimit addresses ( < > , ; " ( ) ).
bool IsPlainMailAddress(const std::string& Address);

// The parts of a message around the attachment's base64 payload, so that the payload
// can be streamed from the file: Head ends just before the payload's first line, Tail
// closes the message. Without an attachment, Head + Tail is the whole message.
struct TMimeEnvelope {
    std::string Head;
    std::string Tail;
};

// The message for Message (To, Subject, MIME-Version, then either a single text/plain
// part or multipart/mixed with the text and the attachment named AttachmentName).
// The body's line breaks become LF; it is sent as 7bit when it is plain ASCII with
// short lines, else base64 of its UTF-8 text with CR LF line breaks. Boundary must not
// occur in the body (see ChooseBoundary). The recipient is taken as it is: check it
// with IsPlainMailAddress first.
TMimeEnvelope ComposeMimeEnvelope(const TMailMessage& Message, const std::string& AttachmentName,
                                  const std::string& Boundary);

// A random multipart boundary that does not occur in Body.
std::string ChooseBoundary(const std::string& Body);

// The last component of a path (after the last "/"; on Windows also "\").
std::string MailFileName(const std::string& Path);
