#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus_{load,inflate,filters,impose}/:
the test fixtures plus small hand-written PDFs, zlib streams and filtered content streams."""
import base64
import pathlib
import shutil
import zlib

HERE = pathlib.Path(__file__).resolve().parent
FIXTURES = HERE.parent / "tests" / "fixtures"


def pdf(bodies, root=1, trailer_extra=b"", xref=True):
    """A classic PDF: bodies[i] is object i + 1, then an xref table and a trailer."""
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, body in enumerate(bodies):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % (i + 1) + body + b"\nendobj\n"
    start = len(out)
    if xref:
        out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(bodies) + 1)
        for off in offsets:
            out += b"%010d 00000 n \n" % off
    out += b"trailer\n<< /Size %d /Root %d 0 R%s >>\n" % (len(bodies) + 1, root, trailer_extra)
    out += b"startxref\n%d\n%%%%EOF\n" % start
    return bytes(out)


def stream(data, extra=b""):
    return b"<< /Length %d%s >>\nstream\n" % (len(data), extra) + data + b"\nendstream"


def png_up(rows, columns):
    """Rows filtered with the PNG Up predictor (tag 2)."""
    out, prev = bytearray(), bytes(columns)
    for row in rows:
        out.append(2)
        out += bytes((row[i] - prev[i]) & 0xFF for i in range(columns))
        prev = row
    return bytes(out)


def objstm(objs, first_num):
    """An object stream holding objs as numbers first_num, first_num + 1, ..."""
    heads, texts, pos = [], b"", 0
    for i, text in enumerate(objs):
        heads.append(b"%d %d" % (first_num + i, pos))
        texts += text + b"\n"
        pos += len(text) + 1
    head = b" ".join(heads) + b"\n"
    data = zlib.compress(head + texts)
    return stream(data, b" /Type /ObjStm /N %d /First %d /Filter /FlateDecode" % (len(objs), len(head)))


CONTENT = b"BT /F1 24 Tf 72 700 Td (Hello) Tj ET\n0 0 1 rg 100 100 200 200 re f\n"
FONT = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"


def load_seeds():
    seeds = {}
    seeds["one_page"] = pdf([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
        b" /Resources << /Font << /F1 5 0 R >> >> >>",
        stream(CONTENT), FONT])
    seeds["inherited_rotated_cropped"] = pdf([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R 6 0 R] /Count 2 /MediaBox [0 0 595 842] /Rotate 90"
        b" /Resources << /Font << /F1 5 0 R >> >> >>",
        b"<< /Type /Page /Parent 2 0 R /CropBox [10 10 500 800] /Contents 4 0 R >>",
        stream(CONTENT), FONT,
        b"<< /Type /Page /Parent 2 0 R /Rotate 270 /MediaBox [100 100 -200 500]"
        b" /Contents [4 0 R 7 0 R] >>",
        stream(zlib.compress(CONTENT), b" /Filter /FlateDecode")])
    predicted = png_up([CONTENT[i:i + 8].ljust(8, b" ") for i in range(0, len(CONTENT), 8)], 8)
    seeds["filters_and_predictor"] = pdf([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 4 0 R"
        b" /Resources << /XObject << /Im1 5 0 R >> /Font 6 0 R >> >>",
        stream(zlib.compress(predicted),
               b" /Filter [/FlateDecode] /DecodeParms [<< /Predictor 12 /Columns 8 >>]"),
        stream(b"\xff\x00" * 8, b" /Type /XObject /Subtype /Image /Width 4 /Height 2"
               b" /ColorSpace /DeviceGray /BitsPerComponent 8 /SMask 7 0 R"),
        b"<< /F1 8 0 R >>",
        stream(b"\x80" * 8, b" /Type /XObject /Subtype /Image /Width 4 /Height 2"
               b" /ColorSpace /DeviceGray /BitsPerComponent 8"),
        FONT])
    hexed = base64.b16encode(CONTENT) + b">"
    seeds["ascii_and_runlength"] = pdf([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
        stream(hexed, b" /Filter /AHx"),
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 6 0 R >>",
        stream(base64.a85encode(bytes([len(CONTENT) - 1]) + CONTENT + b"\x80") + b"~>",
               b" /Filter [/A85 /RL]")])
    # Objects packed into an object stream, found through a cross-reference stream.
    packed = [b"<< /Type /Catalog /Pages 3 0 R >>",
              b"<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
              b"<< /Type /Page /Parent 3 0 R /MediaBox [0 0 612 792] /Contents 5 0 R >>"]
    body = bytearray(b"%PDF-1.5\n")
    body += b"1 0 obj\n" + objstm(packed, 2) + b"\nendobj\n"
    body += b"5 0 obj\n" + stream(CONTENT) + b"\nendobj\n"
    start = len(body)
    body += b"6 0 obj\n" + stream(zlib.compress(b"\x01\x00\x09\x00"),
                                  b" /Type /XRef /Size 7 /W [1 2 1] /Index [6 1] /Root 2 0 R") + \
        b"\nendobj\nstartxref\n%d\n%%%%EOF\n" % start
    seeds["objstm_xrefstream"] = bytes(body)
    seeds["no_xref"] = pdf([
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R 3 0 R] /Count 2 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 4 0 R >>",
        b"<< >>\nstream\n" + CONTENT + b"endstream"], xref=False)
    # Annotations that print, with appearances given directly, as states and by reference.
    ap = stream(b"0 0 1 rg 0 0 10 10 re f", b" /Type /XObject /Subtype /Form /BBox [0 0 10 10]"
                b" /Matrix [0 1 -1 0 0 0]")
    seeds["annotations"] = pdf([
        b"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] >> >>",
        b"<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Rotate 90 /Annots [5 0 R"
        b" << /Subtype /FreeText /F 4 /Rect [50 50 150 80] /AP << /N 6 0 R >> >>] >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Annots 7 0 R >>",
        b"<< /Subtype /Widget /FT /Btn /F 4 /Rect [10 10 30 30] /AS /On"
        b" /AP << /N << /On 6 0 R /Off 6 0 R >> >> >>",
        ap,
        b"[5 0 R << /Subtype /Popup /F 4 /Rect [0 0 9 9] >> << /Subtype /Stamp /F 6 >>"
        b" << /Subtype /Text /F 4 /Rect [1 1 2 2] >>]"])
    # A form that asks readers to make appearances: a text field and a check box without any.
    seeds["need_appearances"] = pdf([
        b"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [4 0 R 5 0 R]"
        b" /NeedAppearances true /DA (/Helv 0 Tf 0 g) >> >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Annots [4 0 R 5 0 R] >>",
        b"<< /Subtype /Widget /FT /Tx /F 4 /Ff 4096 /Rect [10 100 190 150]"
        b" /V <FEFF00480069> /DA (/Helv 9 Tf 1 0 0 rg) /MK << /BC [0 0 1] /BG [0.9] >> >>",
        b"<< /Subtype /Widget /FT /Btn /F 4 /Rect [10 10 30 30] /AS /Yes"
        b" /MK << /CA (8) >> /BS << /W 2 >> >>"])
    seeds["incremental"] = seeds["one_page"] + b"3 0 obj\n<< /Type /Page /Parent 2 0 R" \
        b" /MediaBox [0 0 842 595] /Contents 4 0 R >>\nendobj\ntrailer\n<< /Root 1 0 R" \
        b" /Prev 9 >>\nstartxref\n0\n%%EOF\n"
    return seeds


def inflate_seeds():
    seeds = {}
    texts = [b"", b"a", CONTENT, CONTENT * 40, bytes(range(256)) * 4, b"\x00" * 5000]
    for i, text in enumerate(texts):
        for level in (0, 1, 9):
            seeds["text%d_level%d" % (i, level)] = zlib.compress(text, level)
        fixed = zlib.compressobj(9, zlib.DEFLATED, 15, 9, zlib.Z_FIXED)
        seeds["text%d_fixed" % i] = fixed.compress(text) + fixed.flush()
        rle = zlib.compressobj(9, zlib.DEFLATED, 15, 9, zlib.Z_RLE)
        seeds["text%d_rle" % i] = rle.compress(text) + rle.flush()
    rows = [bytes((r * 7 + c) & 0xFF for c in range(5)) for r in range(6)]
    seeds["png_up"] = b"\x05\x00" + png_up(rows, 5)
    seeds["png_mixed"] = b"\x04\x00" + b"".join(bytes([t]) + b"\x10\x20\x30\x40" for t in range(5))
    return seeds


def filter_seeds():
    data = CONTENT * 3
    predicted = png_up([data[i:i + 6].ljust(6, b" ") for i in range(0, len(data), 6)], 6)
    cases = {
        "none": (b"<< /Length 5 >>", data),
        "flate": (b"<< /Filter /FlateDecode >>", zlib.compress(data)),
        "fl_array": (b"<< /Filter [/Fl] >>", zlib.compress(data)),
        "hex": (b"<< /Filter /ASCIIHexDecode >>", base64.b16encode(data) + b">"),
        "a85": (b"<< /Filter /ASCII85Decode >>", base64.a85encode(data) + b"~>"),
        "rl": (b"<< /Filter /RunLengthDecode >>", b"\x04abcde\xfdz\x80"),
        "chain": (b"<< /Filter [/A85 /FlateDecode] >>",
                  base64.a85encode(zlib.compress(data)) + b"~>"),
        "predictor": (b"<< /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 6 >> >>",
                      zlib.compress(predicted)),
        "predictor_dp": (b"<< /Filter [/AHx /Fl] /DP [null << /Predictor 15 /Columns 6"
                         b" /Colors 1 /BitsPerComponent 8 >>] >>",
                         base64.b16encode(zlib.compress(predicted)) + b">"),
        "unsupported": (b"<< /Filter /LZWDecode /DecodeParms << /EarlyChange 0 >> >>", b"\x80\x0b"),
        "unsupported_chain": (b"<< /Filter [/Fl /DCTDecode] /DecodeParms [null null] >>",
                              zlib.compress(data)),
        "indirect": (b"<< /Filter 7 0 R /Length 3 >>", data),
    }
    return {k: d + b"\nstream\n" + s for k, (d, s) in cases.items()}


def write(name, seeds, extra_files=(), base=HERE):
    target = base / ("corpus_" + name)
    target.mkdir(exist_ok=True)
    for key, data in seeds.items():
        (target / ("seed_" + key)).write_bytes(data)
    for path in extra_files:
        shutil.copy(path, target / ("fixture_" + path.name))
    print(target, len(list(target.iterdir())), "files")


def impose_seeds():
    # Twelve option bytes before each small PDF: the defaults, then every option turned on.
    plain = bytes(12)
    busy = bytes([2, 2, 1, 1, 1, 3, 2, 2, 1, 1, 1, 1])
    out = {}
    for key, data in load_seeds().items():
        if len(data) < 4000:
            out["plain_" + key] = plain + data
            out["busy_" + key] = busy + data
    return out


if __name__ == "__main__":
    import argparse

    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--out", type=pathlib.Path, default=HERE,
                        help="folder to hold the corpus_* folders (default: fuzz/)")
    out = parser.parse_args().out
    out.mkdir(parents=True, exist_ok=True)
    write("load", load_seeds(), sorted(FIXTURES.glob("*.pdf")), out)
    write("impose", impose_seeds(), (), out)
    write("inflate", inflate_seeds(), (), out)
    write("filters", filter_seeds(), (), out)
