#pragma once

#include "server/drawing/DrawingReader.h"

// Reads SXF drawings: SFC files and P21 files in feature mode, both made of feature comments.
// P21 files in the AP202 entity form are refused with a message that names the form.
class SxfReader : public DrawingReader
{
public:
    enum class Form { Sfc, P21 };
    explicit SxfReader(Form form)
        : m_form(form)
    { }

    // FILE_NAME of the drawing last read: its name, first author and first organization.
    const Drawing::SaveInfo &fileName() const { return m_fileName; }

    // The font name texts get when the drawing names none; read back as "no font".
    static QString defaultFont();

protected:
    bool parse(const QByteArray &bytes, Drawing::Model &model, QString *errorMessage) override;

private:
    Form m_form;
    Drawing::SaveInfo m_fileName;
};
