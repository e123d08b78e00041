#!/usr/bin/python3
"""Drawings with paper-space layouts, as other CAD programs save them: the drawing server's
layout tests read them.

  layout_drawings.py FOLDER   writes NAME.dxf into FOLDER for every drawing
"""
import sys

import ezdxf


def new(version="R2018", tilemode=0):
    doc = ezdxf.new(version, units=4)
    doc.layers.add("HIDDEN")
    doc.modelspace().add_line((0, 0), (20000, 10000), dxfattribs={"layer": "HIDDEN"})
    doc.header["$TILEMODE"] = tilemode
    return doc


def a3(doc, name="Layout1", **setup):
    layout = doc.layouts.get(name)
    # margins: top, right, bottom, left
    layout.page_setup(size=(420, 297), margins=(10, 5, 15, 20), units="mm", **setup)
    layout.add_line((0, 0), (100, 0))
    return layout


def viewport(layout, **attribs):
    # 1:100: 26000 mm of the model in 260 mm of paper
    return layout.add_viewport(center=(200, 140), size=(380, 260), view_center_point=(10000, 5000),
                               view_height=26000, dxfattribs=attribs)


def a3_1to100():
    doc = new()
    viewport(a3(doc), view_twist_angle=30)
    return doc


def two_layouts():
    doc = new(tilemode=1)
    doc.layouts.new("立面図", dxfattribs={"taborder": 3})
    a3(doc, "立面図", scale=(1, 2))
    doc.layouts.rename("Layout1", "平面図")
    # first in the file, last of the tabs
    a3(doc, "平面図").dxf_layout.dxf.taborder = 5
    return doc


def frozen_layer():
    doc = new()
    viewport(a3(doc)).frozen_layers = ["HIDDEN"]
    return doc


def polygonal_clip():
    doc = new()
    layout = a3(doc)
    boundary = layout.add_lwpolyline([(20, 20), (300, 20), (300, 200), (150, 250)], close=True)
    port = viewport(layout)
    port.dxf.clipping_boundary_handle = boundary.dxf.handle
    port.dxf.flags |= 0x10000
    return doc


def rotated():
    doc = new()
    a3(doc, rotation=1, offset=(3, 4))
    return doc


def r12():
    doc = new("R12")
    layout = doc.layout()
    layout.page_setup_r12(size=(420, 297))
    layout.add_line((0, 0), (100, 0))
    viewport(layout).frozen_layers = ["HIDDEN"]
    return doc


if __name__ == "__main__":
    for name in ("a3_1to100", "two_layouts", "frozen_layer", "polygonal_clip", "rotated", "r12"):
        globals()[name]().saveas(f"{sys.argv[1]}/{name}.dxf")
