#!/usr/bin/python3
"""Small drawings, one per DXF feature that drawings from other CAD programs use, and ezdxf's own
rendering of each: what the drawing server's feature tests compare its pictures against.

  feature_drawings.py FOLDER [NAME...]   writes NAME.dxf and NAME.png into FOLDER for every
                                          drawing (or those named)

Each function makes the drawing the server reads (or its text, where ezdxf cannot write what the
drawing needs); where ezdxf needs more to draw the feature than
the file gives (a dimension without its block), it returns a second document, the same feature
as ezdxf draws it, for the picture.
"""
import io
import sys

import ezdxf
import ezdxf.math
import ezdxf.render.mleader
import matplotlib

matplotlib.use("agg")
import matplotlib.pyplot as plt  # noqa: E402
from ezdxf.addons.drawing import Frontend, RenderContext  # noqa: E402
from ezdxf.addons.drawing.matplotlib import MatplotlibBackend  # noqa: E402
from ezdxf.addons.drawing.properties import LayoutProperties  # noqa: E402


def new():
    doc = ezdxf.new("R2018", setup=True, units=4)
    return doc, doc.modelspace()


def spline_fit():
    doc, msp = new()
    msp.add_spline([(0, 0), (30, 20), (60, -10), (90, 15), (120, 0)])
    return doc


def not_printed():
    doc, msp = new()
    doc.layers.add("NOPLOT").dxf.plot = 0
    msp.add_lwpolyline([(0, 0), (100, 0), (100, 50), (0, 50)], close=True)
    msp.add_line((10, 10), (90, 10), dxfattribs={"layer": "NOPLOT"})
    msp.add_line((10, 40), (90, 40), dxfattribs={"layer": "HIDDEN"})
    # ezdxf writes no group 60: the invisible line gets it here.
    return text(doc).replace("  8\nHIDDEN\n", "  8\nHIDDEN\n 60\n1\n")


def text(doc):
    stream = io.StringIO()
    doc.write(stream)
    return stream.getvalue()


def linetype_scale():
    doc, msp = new()
    doc.header["$LTSCALE"] = 2
    doc.linetypes.add("TEST", pattern=[10, 6, -4])
    # Lines that end inside a dash or gap: where a dash of no length would start, viewers
    # differ on whether to draw its round cap.
    msp.add_line((0, 0), (195, 0), dxfattribs={"linetype": "TEST"})
    msp.add_line((0, 20), (195, 20), dxfattribs={"linetype": "TEST", "ltscale": 0.5})
    return doc


def mirrored_text():
    doc, msp = new()
    block = doc.blocks.new("TAG")
    block.add_lwpolyline([(0, 0), (40, 0), (40, 10), (0, 10)], close=True)
    block.add_attdef("NAME", (2, 2), dxfattribs={"height": 5})
    msp.add_blockref("TAG", (0, 0)).add_auto_attribs({"NAME": "LEFT"})
    # Mirrored by its scale; its attribute seen from below, at x -98 of its own plane.
    msp.add_blockref("TAG", (100, 20), dxfattribs={"xscale": -1}).add_auto_attribs(
        {"NAME": "MIRROR"})
    msp.add_text("BACK", dxfattribs={"height": 5, "extrusion": (0, 0, -1), "insert": (-20, 40)})
    msp.add_text("UPSIDE", dxfattribs={"height": 5, "insert": (60, 40), "text_generation_flag": 4})
    return doc


def constant_attribute():
    doc, msp = new()
    block = doc.blocks.new("PART")
    block.add_circle((0, 0), 10)
    block.add_attdef("MAKER", (-8, -14), dxfattribs={"height": 3, "flags": 2}).dxf.text = "ACME"
    block.add_attdef("NO", (-8, 12), dxfattribs={"height": 3})
    for x in (0, 40):
        msp.add_blockref("PART", (x, 0)).add_auto_attribs({"NO": f"P{x}"})
    return doc


def mtext_width():
    doc, msp = new()
    # Two words fit a line in both programs' fonts, three in neither.
    msp.add_mtext("ABCD EFGH IJKL MNOP QRST UVWX",
                  dxfattribs={"char_height": 5, "width": 50, "insert": (0, 0)})
    return doc


def mtext_width_japanese():
    # Seven characters fit the width, but the eighth is a closing mark, which takes the seventh
    # with it to the next line. ezdxf breaks only at spaces and draws one line.
    doc, msp = new()
    msp.add_mtext("一二三四五六七。ABC",
                  dxfattribs={"char_height": 5, "width": 50, "insert": (0, 0)})
    return doc


def decorations():
    doc, msp = new()
    msp.add_text("%%uUNDER%%u LINE", dxfattribs={"height": 5, "insert": (0, 0)})
    msp.add_text("%%oOVER", dxfattribs={"height": 5, "insert": (0, 20)})
    msp.add_mtext("{\\LUNDER} OFF \\OOVER", dxfattribs={"char_height": 5, "insert": (60, 5)})
    return doc


def faces():
    doc, msp = new()
    msp.add_3dface([(0, 0, 0), (60, 0, 10), (60, 40, 20), (0, 40, 5)])
    # The second and fourth edges hidden: two lines of a strip.
    msp.add_3dface([(80, 0), (140, 0), (140, 40), (80, 40)],
                   dxfattribs={"invisible": 2 | 8})
    msp.add_3dface([(160, 0), (200, 0), (180, 40)])
    return doc


def multiline():
    doc, msp = new()
    style = doc.mline_styles.new("WALL")
    style.elements.append(5, 1)
    style.elements.append(0, 3, "DASHED")
    style.elements.append(-5, 5)
    style.dxf.flags = style.START_SQUARE | style.END_ROUND | style.MITER | style.FILL
    style.dxf.fill_color = 254
    msp.add_mline([(0, 0), (100, 0), (100, 60), (40, 90)], dxfattribs={"style_name": "WALL"})
    return doc


def multileader():
    doc, msp = new()
    builder = msp.add_multileader_mtext("Standard")
    builder.set_content("NOTE", char_height=5, alignment=1)
    builder.set_arrow_properties(size=4)
    builder.add_leader_line(ezdxf.render.mleader.ConnectionSide.left, [ezdxf.math.Vec2(-60, -40)])
    builder.add_leader_line(ezdxf.render.mleader.ConnectionSide.left, [ezdxf.math.Vec2(-60, 20)])
    builder.build(insert=ezdxf.math.Vec2(0, 0))
    return doc


def dimensions():
    # ezdxf draws a dimension from its block only: the picture is of the drawing with the blocks
    # ezdxf makes, the server reads it without them.
    doc, msp = new()
    doc.dimstyles.new("TEST", dxfattribs={
        "dimtxt": 4, "dimasz": 4, "dimexo": 2, "dimexe": 2, "dimgap": 1, "dimtad": 1,
        "dimdec": 1, "dimtih": 0, "dimtoh": 0, "dimblk": ""})
    dims = [
        msp.add_linear_dim(base=(0, 30), p1=(0, 0), p2=(120, 0), dimstyle="TEST",
                           override={"dimdec": 0}),
        msp.add_aligned_dim(p1=(140, 0), p2=(200, 60), distance=15, dimstyle="TEST"),
        msp.add_radius_dim(center=(60, -60), radius=40, angle=45, dimstyle="TEST"),
    ]
    msp.add_circle((60, -60), 40)
    for dim in dims:
        dim.render()
    reference = text(doc)
    for dim in dims:
        name = dim.dimension.dxf.geometry
        dim.dimension.dxf.discard("geometry")
        doc.blocks.delete_block(name, safe=False)
    return doc, ezdxf.read(io.StringIO(reference))


def render(doc, path):
    fig = plt.figure(figsize=(8, 6))
    ax = fig.add_axes((0, 0, 1, 1))
    # Export mode leaves out what is not plotted, as a printed sheet does.
    ctx = RenderContext(doc, export_mode=True)
    properties = LayoutProperties.from_layout(doc.modelspace())
    properties.set_colors("#FFFFFF")
    Frontend(ctx, MatplotlibBackend(ax)).draw_layout(
        doc.modelspace(), finalize=True, layout_properties=properties)
    fig.savefig(path, dpi=100, facecolor="#FFFFFF")
    plt.close(fig)


DRAWINGS = {
    "spline-fit": spline_fit,
    "not-printed": not_printed,
    "linetype-scale": linetype_scale,
    "mirrored-text": mirrored_text,
    "constant-attribute": constant_attribute,
    "mtext-width": mtext_width,
    "mtext-width-japanese": mtext_width_japanese,
    "decorations": decorations,
    "3dface": faces,
    "multiline": multiline,
    "multileader": multileader,
    "dimensions": dimensions,
}

if __name__ == "__main__":
    folder = sys.argv[1]
    for name in sys.argv[2:] or DRAWINGS:
        made = DRAWINGS[name]()
        doc, reference = made if isinstance(made, tuple) else (made, made)
        if isinstance(doc, str):
            with open(f"{folder}/{name}.dxf", "w", encoding="utf-8", newline="\n") as f:
                f.write(doc)
            reference = ezdxf.read(io.StringIO(doc)) if reference is doc else reference
        else:
            doc.saveas(f"{folder}/{name}.dxf")
        render(reference, f"{folder}/{name}.png")
