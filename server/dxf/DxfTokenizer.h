#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Splits ASCII or binary DXF into group code/value pairs, one at a time, without copying.
// Every numeric value is parsed and checked here, so that what follows never sees a number that
// is not finite.
class DxfTokenizer
{
public:
    struct Group
    {
        int code = -1;
        QByteArrayView text; // string values (and the text of numbers in ASCII files)
        double number = 0; // every numeric value, integers included
        qint64 integer = 0;
    };

    explicit DxfTokenizer(const QByteArray &bytes);

    bool isBinary() const { return m_binary; }
    // The next group; false at the end of the input or on a malformed group (see error()).
    bool next(Group &group);
    // Makes the group just read the next one again.
    void pushBack(const Group &group);
    bool failed() const { return !m_error.isEmpty(); }
    QString error() const { return m_error; }

private:
    bool nextAscii(Group &group);
    bool nextBinary(Group &group);
    bool fail(const QString &reason);
    bool readLine(QByteArrayView &line);

    const char *m_begin;
    const char *m_pos;
    const char *m_end;
    bool m_binary = false;
    bool m_twoByteCodes = true;
    qint64 m_line = 0;
    bool m_hasPushed = false;
    Group m_pushed;
    QString m_error;
};
