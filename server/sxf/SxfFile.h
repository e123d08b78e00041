#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// The ISO 10303-21 exchange structure SFC and P21 drawings share: the HEADER records and, in the
// DATA section, the SXF feature comments ("/*SXF #n = line_feature(...) SXF*/") and a count of the
// ordinary entity instances that the AP202 form uses instead. Strings come back decoded: raw
// bytes as Shift-JIS (Windows code page 932, which Japanese drawings use), \X2\...\X0\ as UCS-2.
class SxfFile
{
public:
    struct Value
    {
        enum class Kind { Omitted, Token, String, List };
        Kind kind = Kind::Omitted;
        // A number, an enumeration or an instance name as written; a string's bytes between the
        // quotes, decoded only when read as text (most are numbers).
        QByteArray token;
        QVector<Value> items; // list members
    };

    struct Record
    {
        QByteArray keyword; // lower case
        QVector<Value> params;
        qsizetype offset = 0; // where the record starts, for messages
    };

    bool parse(const QByteArray &bytes, QString *errorMessage);

    const QVector<Record> &header() const { return m_header; }
    const QVector<Record> &features() const { return m_features; }
    int entityInstances() const { return m_entityInstances; }
    const Record *headerRecord(const char *keyword) const;

    // Numbers are quoted in SFC ('12.5') and bare in other writers' files; both read the same.
    static bool toNumber(const Value &value, double *number);
    static bool toInteger(const Value &value, int *number);
    // A list of numbers, bare "(1,2)" or quoted "'(1,2)'".
    static bool toNumbers(const Value &value, QVector<double> *numbers);
    static QString toText(const Value &value);

    static QString decodeString(const QByteArray &raw);
    // The line number of a byte offset of the parsed bytes.
    int lineOf(qsizetype offset) const { return lineAt(offset); }

private:
    bool fail(const QString &reason);
    int lineAt(qsizetype offset) const;
    void skipSpace();
    bool skipComment();
    bool startsWith(const char *literal) const;
    bool readKeyword(QByteArray *keyword);
    bool readRecord(Record *record);
    bool readList(QVector<Value> *values, int depth);
    bool readValue(Value *value, int depth);
    bool readString(QByteArray *raw);
    bool readFeature();
    bool skipInstance();

    const QByteArray *m_bytes = nullptr;
    qsizetype m_pos = 0;
    QString *m_error = nullptr;
    QVector<Record> m_header;
    QVector<Record> m_features;
    int m_entityInstances = 0;
};
