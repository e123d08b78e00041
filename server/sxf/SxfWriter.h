#pragma once

#include "server/drawing/DrawingWriter.h"

// Writes SXF drawings as SFC or as P21 in feature mode: a header whose FILE_NAME carries the
// author and organization, the code tables, the symbols, the shapes and the drawing sheet.
// SFC keeps Japanese text in Shift-JIS as Japanese programs expect; P21 spells every character
// outside ASCII as \X2\ UCS-2 so that any ISO 10303-21 tool can carry it.
class SxfWriter : public DrawingWriter
{
public:
    enum class Form { Sfc, P21 };
    explicit SxfWriter(Form form)
        : m_form(form)
    { }

    bool write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
               QString *errorMessage) override;

    // `text` as a quoted ISO 10303-21 string.
    static QByteArray quote(const QString &text, bool unicodeEscapes);

private:
    Form m_form;
};
