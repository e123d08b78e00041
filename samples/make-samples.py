#!/usr/bin/python3
"""Writes the sample drawings of this folder with ezdxf (Debian: python3-ezdxf).

    /usr/bin/python3 samples/make-samples.py [folder]

floor-plan.dxf  R2000, Shift-JIS: a flat of five rooms with Japanese names, doors as blocks,
                windows, a dashed grid on its own layer and overall dimensions.
floor-plan-a3.dxf  the same flat laid out on an A3 paper-space sheet: a frame and title block,
                the plan at 1:50 and the bathroom at 1:30 (the grid frozen there) in viewports.
site.dxf        R2018, UTF-8: a site boundary with an arc, a building, a road, trees inserted
                as an array, a north arrow, multi-line text, an ellipse and a spline.
detail.dxf      R2000: a steel base plate detail with bolt blocks, a hatched section, a
                solid-filled grout bed, linear, radius and diameter dimensions and a leader.

Every drawing is in millimetres. The output is the same on every run, so that the committed
files only change when this script does.
"""
import math
import os
import re
import sys

import ezdxf
from ezdxf.enums import TextEntityAlignment

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))


def fixed(doc):
    doc.header["$INSUNITS"] = 4  # millimetres
    doc.header["$MEASUREMENT"] = 1


def save(doc, name, **kwargs):
    """Saves, then fixes the times and identifiers ezdxf stamps, so that regenerating the
    samples changes nothing."""
    path = os.path.join(OUT, name)
    doc.saveas(path, **kwargs)
    with open(path, "rb") as f:
        lines = f.read().split(b"\n")
    stamps = {b"$TDCREATE": b"2461000.5", b"$TDUCREATE": b"2461000.125",
              b"$TDUPDATE": b"2461000.5", b"$TDUUPDATE": b"2461000.125",
              b"$FINGERPRINTGUID": b"{6E6F7276-616C-6500-0000-000000000001}",
              b"$VERSIONGUID": b"{6E6F7276-616C-6500-0000-000000000002}"}
    for i, line in enumerate(lines):
        key = line.strip()
        if re.match(rb"^[0-9.]+ @ [0-9]{4}-", key):  # ezdxf's "written by" stamp
            lines[i] = re.sub(rb"@ .*?(\r?)$", rb"@ 2026-01-01T00:00:00+00:00\1", line)
        if key in stamps and i + 2 < len(lines):
            lines[i + 2] = stamps[key] + (b"\r" if lines[i + 2].endswith(b"\r") else b"")
    with open(path, "wb") as f:
        f.write(b"\n".join(lines))


def floor_plan(sheet=False):
    doc = ezdxf.new("R2000", setup=True)
    doc.encoding = "cp932"  # Shift-JIS, $DWGCODEPAGE ANSI_932
    fixed(doc)
    doc.layers.add("壁", color=7, lineweight=50)
    doc.layers.add("建具", color=3)
    doc.layers.add("室名", color=5)
    doc.layers.add("通り芯", color=1, linetype="DASHDOT")
    doc.layers.add("寸法", color=2)
    msp = doc.modelspace()

    door = doc.blocks.new("DOOR")
    door.add_line((0, 0), (0, 800))
    door.add_arc((0, 0), 800, 0, 90)
    window = doc.blocks.new("WINDOW")
    window.add_line((0, -60), (1200, -60))
    window.add_line((0, 60), (1200, 60))
    window.add_line((0, 0), (1200, 0))

    # Outer walls and partitions (in millimetres; the flat is 10.8 m × 7.2 m).
    msp.add_lwpolyline([(0, 0), (10800, 0), (10800, 7200), (0, 7200)], close=True,
                       dxfattribs={"layer": "壁", "const_width": 120})
    for a, b in [((4500, 0), (4500, 7200)), ((4500, 4000), (10800, 4000)),
                 ((7800, 0), (7800, 4000)), ((0, 3000), (4500, 3000))]:
        msp.add_line(a, b, dxfattribs={"layer": "壁", "lineweight": 35})
    for x, y, rot in [(4500, 1000, 90), (5200, 4000, 0), (8300, 4000, 0), (1000, 3000, 0),
                      (7800, 1200, 90)]:
        msp.add_blockref("DOOR", (x, y), dxfattribs={"layer": "建具", "rotation": rot})
    for x, y in [(1500, 7200), (6500, 7200), (8800, 0), (1500, 0)]:
        msp.add_blockref("WINDOW", (x, y), dxfattribs={"layer": "建具"})

    rooms = [("洋室１", 2250, 5100), ("和室（六畳）", 2250, 1500), ("リビング・ダイニング", 7650, 5600),
             ("キッチン", 6150, 2000), ("浴室", 9300, 2000)]
    for name, x, y in rooms:
        msp.add_text(name, height=250, dxfattribs={"layer": "室名"}).set_placement(
            (x, y), align=TextEntityAlignment.MIDDLE_CENTER)
    msp.add_text("１階平面図　S=1:50", height=350, dxfattribs={"layer": "室名"}).set_placement(
        (0, -1500))

    for x in (0, 4500, 10800):
        msp.add_line((x, -800), (x, 8000), dxfattribs={"layer": "通り芯"})
    # Millimetre dimensions for a 1:50 print: 2.5 mm text on paper is 125 drawing units.
    mm = {"dimlfac": 1, "dimtxt": 125, "dimasz": 100, "dimexo": 100, "dimexe": 100,
          "dimgap": 40, "dimdec": 0, "dimtad": 1, "dimblk": "ARCHTICK"}
    for base, p1, p2, angle in [((0, 8600), (0, 7200), (10800, 7200), 0),
                                ((0, 8000), (0, 7200), (4500, 7200), 0),
                                ((11600, 0), (10800, 0), (10800, 7200), 90)]:
        msp.add_linear_dim(base=base, p1=p1, p2=p2, angle=angle, override=mm,
                           dxfattribs={"layer": "寸法"}).render()
    if not sheet:
        save(doc, "floor-plan.dxf")
        return

    # The same flat laid out for printing: an A3 sheet (landscape, plotted 1:1 in millimetres)
    # with a frame, a title block, the plan at 1:50 and the bathroom at 1:30 without the grid.
    layout = doc.layouts.get("Layout1")
    layout.rename("A3 平面図")
    layout.page_setup(size=(420, 297), margins=(10, 10, 10, 10), units="mm", scale=(1, 1))
    doc.layers.add("枠", color=7, lineweight=50)
    doc.layers.add("表題", color=7)
    frame = {"layer": "枠"}
    layout.add_lwpolyline([(0, 0), (400, 0), (400, 277), (0, 277)], close=True, dxfattribs=frame)
    layout.add_lwpolyline([(260, 0), (260, 30), (400, 30)], dxfattribs=frame)
    layout.add_text("１階平面図", height=6, dxfattribs={"layer": "表題"}).set_placement((266, 17))
    layout.add_text("S=1:50 (浴室 1:30)  A3", height=3.5,
                    dxfattribs={"layer": "表題"}).set_placement((266, 7))
    plan = layout.add_viewport(center=(135, 150), size=(250, 230), view_center_point=(5400, 3300),
                               view_height=11500)
    plan.dxf.layer = "枠"
    bath = layout.add_viewport(center=(330, 140), size=(120, 170), view_center_point=(9300, 2000),
                               view_height=5100)
    bath.dxf.layer = "枠"
    bath.frozen_layers = ["通り芯"]
    doc.header["$TILEMODE"] = 0
    save(doc, "floor-plan-a3.dxf")


def site_plan():
    doc = ezdxf.new("R2018", setup=True)
    fixed(doc)
    doc.layers.add("敷地", color=1, linetype="DASHED")
    doc.layers.add("建物", color=7, lineweight=50)
    doc.layers.add("道路", color=8)
    doc.layers.add("植栽", color=3)
    doc.layers.add("注記", color=5)
    msp = doc.modelspace()

    # The boundary: straight sides and a curved corner (bulge) toward the road.
    msp.add_lwpolyline([(0, 0, 0, 0, 0), (30000, 0, 0, 0, 0.25), (36000, 6000, 0, 0, 0),
                        (36000, 24000, 0, 0, 0), (0, 24000, 0, 0, 0)],
                       format="xyseb", close=True, dxfattribs={"layer": "敷地"})
    msp.add_lwpolyline([(6000, 6000), (22000, 6000), (22000, 16000), (14000, 16000),
                        (14000, 19000), (6000, 19000)], close=True,
                       dxfattribs={"layer": "建物"})
    msp.add_line((-2000, -3000), (40000, -3000), dxfattribs={"layer": "道路"})
    msp.add_line((-2000, -9000), (40000, -9000), dxfattribs={"layer": "道路"})

    tree = doc.blocks.new("TREE")
    tree.add_circle((0, 0), 1200)
    tree.add_line((-400, 0), (400, 0))
    tree.add_line((0, -400), (0, 400))
    msp.add_blockref("TREE", (26000, 12000), dxfattribs={"layer": "植栽"}).grid(
        size=(3, 2), spacing=(3500, 4000))
    msp.add_ellipse((10000, 21500), major_axis=(3000, 0), ratio=0.4,
                    dxfattribs={"layer": "植栽"})
    msp.add_spline([(24000, 21000), (27000, 22500), (30000, 20500), (33000, 22000)],
                   dxfattribs={"layer": "植栽"})

    north = doc.blocks.new("NORTH")
    north.add_circle((0, 0), 1500)
    north.add_solid([(0, 1500), (-500, -1000), (0, -400)])
    north.add_line((0, -400), (500, -1000))
    north.add_line((500, -1000), (0, 1500))
    north.add_text("N", height=600).set_placement((0, 1800), align=TextEntityAlignment.BOTTOM_CENTER)
    msp.add_blockref("NORTH", (40000, 21000), dxfattribs={"layer": "注記", "rotation": 15})

    msp.add_text("配置図　S=1:200", height=1000, dxfattribs={"layer": "注記"}).set_placement(
        (0, -14000))
    msp.add_text("前面道路（幅員6.0m）", height=700, dxfattribs={"layer": "注記"}).set_placement(
        (18000, -6000), align=TextEntityAlignment.MIDDLE_CENTER)
    msp.add_mtext("敷地面積 864.00㎡\\P建築面積 320.00㎡\\P建蔽率 37.0%",
                  dxfattribs={"layer": "注記", "char_height": 600, "insert": (24000, 4500),
                              "attachment_point": 1})
    msp.add_text("住宅棟", height=800, dxfattribs={"layer": "注記"}).set_placement(
        (14000, 11000), align=TextEntityAlignment.MIDDLE_CENTER)
    save(doc, "site.dxf", encoding="utf-8")


def detail():
    doc = ezdxf.new("R2000", setup=True)
    fixed(doc)
    doc.layers.add("OUTLINE", color=7, lineweight=50)
    doc.layers.add("HATCH", color=8)
    doc.layers.add("DIMENSIONS", color=2)
    doc.layers.add("CENTER", color=1, linetype="CENTER")
    msp = doc.modelspace()

    bolt = doc.blocks.new("BOLT_M16")
    bolt.add_circle((0, 0), 8)
    bolt.add_lwpolyline([(13.9, 0), (6.95, 12.04), (-6.95, 12.04), (-13.9, 0), (-6.95, -12.04),
                         (6.95, -12.04)], close=True)
    bolt.add_line((-18, 0), (18, 0), dxfattribs={"layer": "CENTER"})
    bolt.add_line((0, -18), (0, 18), dxfattribs={"layer": "CENTER"})

    # Plan of the base plate: 300 × 300 with four bolts inserted as a 2 × 2 array.
    msp.add_lwpolyline([(0, 0), (300, 0), (300, 300), (0, 300)], close=True,
                       dxfattribs={"layer": "OUTLINE"})
    msp.add_lwpolyline([(100, 100), (200, 100), (200, 200), (100, 200)], close=True,
                       dxfattribs={"layer": "OUTLINE"})
    msp.add_blockref("BOLT_M16", (50, 50), dxfattribs={"layer": "OUTLINE"}).grid(
        size=(2, 2), spacing=(200, 200))

    # Section below the plan: the plate, the concrete hatched, the grout bed filled.
    msp.add_lwpolyline([(0, -80), (300, -80), (300, -58), (0, -58)], close=True,
                       dxfattribs={"layer": "OUTLINE"})
    grout = msp.add_hatch(color=8, dxfattribs={"layer": "HATCH"})
    grout.paths.add_polyline_path([(0, -110), (300, -110), (300, -80), (0, -80)], is_closed=True)
    concrete = msp.add_hatch(dxfattribs={"layer": "HATCH"})
    concrete.set_pattern_fill("ANSI31", scale=10)
    concrete.paths.add_polyline_path([(-60, -300), (360, -300), (360, -110), (-60, -110)],
                                     is_closed=True)
    msp.add_lwpolyline([(-60, -300), (360, -300), (360, -110), (-60, -110)], close=True,
                       dxfattribs={"layer": "OUTLINE"})

    dims = {"layer": "DIMENSIONS"}
    # Millimetre dimensions for a 1:5 print: 2.5 mm text on paper is 12.5 drawing units.
    mm = {"dimlfac": 1, "dimtxt": 10, "dimasz": 6, "dimexo": 3, "dimexe": 4, "dimgap": 2,
          "dimdec": 0, "dimtad": 1, "dimblk": ""}  # closed filled arrows
    msp.add_linear_dim(base=(0, 350), p1=(0, 300), p2=(300, 300), override=mm,
                       dxfattribs=dims).render()
    msp.add_linear_dim(base=(0, 325), p1=(50, 250), p2=(250, 250), override=mm,
                       dxfattribs=dims).render()
    msp.add_linear_dim(base=(400, 0), p1=(360, -110), p2=(360, -300), angle=90, override=mm,
                       dxfattribs=dims).render()
    msp.add_radius_dim(center=(50, 250), radius=8, angle=45, override=mm,
                       dxfattribs=dims).render()
    msp.add_diameter_dim(center=(250, 50), radius=8, angle=-45, override=mm,
                         dxfattribs=dims).render()
    msp.add_leader([(300, -70), (380, -30), (420, -30)], dxfattribs=dims)
    msp.add_text("BASE PL-22 (SS400)", height=10, dxfattribs=dims).set_placement((425, -34))
    msp.add_text("DETAIL A  1:5", height=14, dxfattribs=dims).set_placement((0, -350))
    save(doc, "detail.dxf")


if __name__ == "__main__":
    floor_plan()
    floor_plan(sheet=True)
    site_plan()
    detail()
