#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

// Turns the bytes of DXF strings into text: the file's code page (or UTF-8 from R2007 on),
// \U+XXXX and \M+nXXXX escapes, the %%-specials of single-line text and the formatting codes
// of multi-line text.
class DxfText
{
public:
    // Chooses the encoding once the header is known. `file` is the whole input, looked at only
    // when the header names no code page.
    void configure(QByteArrayView file, QByteArrayView version, QByteArrayView codePage);
    QString encodingName() const { return m_encoding; }

    QString decode(QByteArrayView raw);

    // Without their codes; `decorations`, when given, gets what Drawing::Text::decorations
    // holds: the underline, overline and strike-through the codes switch, one byte a character.
    static QString resolveSpecials(const QString &text, QByteArray *decorations = nullptr);
    static QString plainMText(const QString &text, QByteArray *decorations = nullptr);

    // What the file says for an encoding name; empty when there is none for it.
    static QString encodingForCodePage(QByteArrayView codePage);
    static bool isValidUtf8(QByteArrayView bytes);
    static bool isValidShiftJis(QByteArrayView bytes);

private:
    QString m_encoding = QStringLiteral("UTF-8");
    QStringDecoder m_decoder {QStringDecoder::Utf8, QStringDecoder::Flag::Stateless};
    QStringDecoder m_shiftJis {"windows-31j", QStringDecoder::Flag::Stateless};
};
