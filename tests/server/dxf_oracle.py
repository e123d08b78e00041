#!/usr/bin/python3
"""What ezdxf makes of DXF files: the oracle the drawing server's DXF tests compare against.

  dxf_oracle.py counts FILE...   one JSON object per line: the file, then the entities of model
                                 space and of all blocks, by the kind the server's model knows
  dxf_oracle.py audit FILE       one JSON object: ezdxf's audit errors of the file and the author
                                 data of its header
  dxf_oracle.py colors FILE      one JSON array: the distinct [colour index, true colour or -1]
                                 pairs of the layers and entities (by layer and by block left out)
"""
import json
import sys

import ezdxf
from ezdxf import recover

KINDS = {
    "LINE": "LINE", "CIRCLE": "CIRCLE", "ARC": "ARC", "ELLIPSE": "ELLIPSE",
    "LWPOLYLINE": "POLYLINE", "POLYLINE": "POLYLINE", "SPLINE": "POLYLINE",
    "POINT": "POINT", "SOLID": "SOLID", "TRACE": "SOLID", "TEXT": "TEXT", "MTEXT": "MTEXT",
    "INSERT": "INSERT", "HATCH": "HATCH", "DIMENSION": "DIMENSION", "LEADER": "LEADER",
    "3DFACE": "3DFACE", "MLINE": "MLINE", "MULTILEADER": "MULTILEADER",
}


def count(entities):
    result = {}
    for entity in entities:
        kind = KINDS.get(entity.dxftype())
        if entity.dxftype() == "ATTDEF" and entity.dxf.flags & 3 == 2:
            kind = "TEXT"  # a constant attribute is text of its block
        if kind:
            result[kind] = result.get(kind, 0) + 1
    return result


def counts(paths):
    for path in paths:
        try:
            doc = ezdxf.readfile(path)
        except ezdxf.DXFStructureError:
            # some writers put header variables after the header's ENDSEC
            doc, _ = recover.readfile(path)
        blocks = {}
        for block in doc.blocks:
            if block.name.lower().startswith(("*model_space", "*paper_space")):
                continue
            for kind, n in count(block).items():
                blocks[kind] = blocks.get(kind, 0) + n
        print(json.dumps({"file": path, "model": count(doc.modelspace()), "blocks": blocks}))


def audit(path):
    doc = ezdxf.readfile(path)
    auditor = doc.audit()
    print(json.dumps({
        "errors": [str(e.message) for e in auditor.errors],
        "fixes": [str(e.message) for e in auditor.fixes],
        "version": doc.dxfversion,
        "codepage": doc.header.get("$DWGCODEPAGE", ""),
        "lastSavedBy": doc.header.get("$LASTSAVEDBY", ""),
        "custom": dict(doc.header.custom_vars),
        "entities": len(doc.modelspace()),
    }, ensure_ascii=False))


def colors(path):
    doc = ezdxf.readfile(path)
    pairs = set()
    for entity in list(doc.layers) + [e for block in doc.blocks for e in block]:
        index = abs(entity.dxf.get("color", 256))
        if index not in (0, 256):
            pairs.add((index, entity.dxf.get("true_color", -1)))
    print(json.dumps(sorted(pairs)))


if __name__ == "__main__":
    if sys.argv[1] == "counts":
        counts(sys.argv[2:])
    elif sys.argv[1] == "audit":
        audit(sys.argv[2])
    elif sys.argv[1] == "colors":
        colors(sys.argv[2])
