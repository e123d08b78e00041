#pragma once

#include "server/paint/PlottedWriter.h"

// Enhanced Metafile at the page size of the PDF. EMF has no author field: the header's
// description holds the program and the drawing's name, and an EMR_COMMENT holds
// "Title=", "Author=" and "Affiliation=" lines in UTF-8 after the marker "NorvaleInfo\n".
class EmfWriter : public PlottedWriter
{
public:
    using PlottedWriter::PlottedWriter;

    bool write(const Drawing::Model &model, const Drawing::SaveInfo &info, QIODevice &out,
               QString *errorMessage) override;
};
