#pragma once

#include <QByteArrayView>

#include <vector>

// Decodes the base64 text of a binary array into out (replacing its content).
// XML white space anywhere in the text is ignored; the final group may leave
// out its "=" padding. Returns false for any other character, misplaced
// padding or a dangling single character; out is then unspecified.
bool DecodeBase64(QByteArrayView text, std::vector<unsigned char> &out);

// The same for a text that comes in pieces, so that a long one need not be
// held whole: the pieces are decoded as they come, their bytes appended.
class Base64Stream
{
public:
    // Decodes the piece of text after those before it. False as DecodeBase64.
    bool add(QByteArrayView text, std::vector<unsigned char> &out);
    // The text is through: the bytes of its last group. False as DecodeBase64.
    bool finish(std::vector<unsigned char> &out);

private:
    quint32 m_group = 0; // the sextets of a group not yet complete
    int m_filled = 0;    // how many
    int m_padding = 0;   // "=" seen
    bool m_tail = false; // after the first "=": only padding and white space may follow
};
