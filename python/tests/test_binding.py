import os
import pathlib
import shutil

import pytest

import quirefold

SAMPLE = pathlib.Path(__file__).resolve().parents[2] / "samples" / "sample.pdf"
FORM = pathlib.Path(__file__).resolve().parents[2] / "tests" / "fixtures" / "annot_form.pdf"


def test_page_count_accepts_str_bytes_and_pathlike():
    assert quirefold.page_count(str(SAMPLE)) == 6
    assert quirefold.page_count(os.fsencode(str(SAMPLE))) == 6
    assert quirefold.page_count(SAMPLE) == 6


def test_missing_file_raises_with_the_library_message(tmp_path):
    missing = tmp_path / "missing.pdf"
    with pytest.raises(quirefold.QuirefoldError) as e:
        quirefold.page_count(missing)
    assert str(e.value) == f"cannot open {missing}: No such file or directory"


def test_not_a_pdf(tmp_path):
    junk = tmp_path / "junk.pdf"
    junk.write_bytes(b"hello, world\n")
    with pytest.raises(quirefold.QuirefoldError) as e:
        quirefold.page_count(junk)
    assert str(e.value) == f"no PDF objects found \u2014 not a PDF: {junk}"


def test_make_booklet_writes_a_booklet_and_returns_its_result(tmp_path):
    out = tmp_path / "booklet.pdf"
    r = quirefold.make_booklet(SAMPLE, out, sheet="a4")
    assert out.read_bytes().startswith(b"%PDF-1.5\n")  # compact: object streams
    assert quirefold.page_count(out) == 4  # six pages -> two sheets -> four sides
    assert (r.sheet, r.input_pages, r.pages, r.sheets, r.sides, r.blanks, r.signatures) == (
        "A4", 6, 6, 2, 4, 2, 1)
    assert r.sheet_width == pytest.approx(841.89) and r.sheet_height == pytest.approx(595.28)
    assert r.warnings == [] and r.data is None


@pytest.mark.parametrize("sheet,name", [
    ("auto", "A4"), ("a4", "A4"), ("letter", "Letter"), ("a3", "A3"), ("A5", "A5"),
    ("b4", "B4"), ("b5", "B5"), ("legal", "Legal"), ("tabloid", "Tabloid"),
    ("300x200mm", "custom")])
def test_every_sheet_name_is_accepted(tmp_path, sheet, name):
    out = tmp_path / f"b-{sheet}.pdf"
    assert quirefold.make_booklet(SAMPLE, out, sheet=sheet).sheet == name
    assert out.exists()


@pytest.mark.parametrize("options,field", [
    (dict(sheet="folio"), "sheet"),
    (dict(sheet=4), "sheet"),
    (dict(signature=-1), "signature"),
    (dict(signature=1.5), "signature"),
    (dict(binding="top"), "binding"),
    (dict(flip="sideways"), "flip"),
    (dict(scale="huge"), "scale"),
    (dict(annotations="all"), "annotations"),
    (dict(margin=-1), "margin"),
    (dict(gutter="3 furlongs"), "gutter"),
    (dict(creep=True), "creep"),
    (dict(pages="1-x"), "pages"),
    (dict(pages="7"), "pages"),           # past the last page: known only once loaded
    (dict(margin="20in"), "margin"),      # leaves no room on the sheet
])
def test_bad_values_raise_value_error_naming_the_option_and_write_nothing(
        tmp_path, options, field):
    out = tmp_path / "x.pdf"
    with pytest.raises(ValueError) as e:
        quirefold.make_booklet(SAMPLE, out, **options)
    assert field in str(e.value)
    assert not out.exists()


def test_options_reach_the_layout(tmp_path):
    r = quirefold.make_booklet(SAMPLE, tmp_path / "o.pdf", pages="z-1,1", signature=1,
                               cover=True, binding="right", flip="long", margin="5mm",
                               gutter=10, creep="0.5mm", scale="shrink", fold_marks=True)
    assert (r.pages, r.sheets, r.signatures, r.blanks) == (7, 2, 2, 1)


def test_plan_returns_the_pages_of_every_slot_and_writes_nothing(tmp_path):
    p = quirefold.plan(SAMPLE, flip="long")
    assert p["sheet"]["name"] == "A4"
    sides = [(s["front"]["left"], s["front"]["right"], s["back"]["left"], s["back"]["right"])
             for s in p["sheets"]]
    # Eight slots; the back of a long-edge flip is turned, so its pages change places.
    assert sides == [(None, 1, None, 2), (6, 3, 5, 4)]
    assert [s["back"]["turned"] for s in p["sheets"]] == [True, True]
    assert p["sheets"][0]["front"]["placement"]["left"] is None
    assert p["sheets"][0]["front"]["placement"]["right"]["turn"] == 0
    assert p["sheets"][0]["back"]["placement"]["right"]["turn"] == 180
    assert list(tmp_path.iterdir()) == []


def test_booklet_bytes_from_memory_to_memory(tmp_path):
    r = quirefold.booklet_bytes(SAMPLE.read_bytes(), sheet="letter")
    assert r.data.startswith(b"%PDF-1.5\n") and r.sheet == "Letter"
    out = tmp_path / "m.pdf"
    out.write_bytes(r.data)
    assert quirefold.page_count(out) == 4
    with pytest.raises(quirefold.QuirefoldError) as e:
        quirefold.booklet_bytes(b"not a pdf")
    assert str(e.value) == "no PDF objects found \u2014 not a PDF: (input in memory)"


def test_version():
    assert quirefold.__version__ == "0.2.0"


def test_non_ascii_paths(tmp_path):
    d = tmp_path / "Gefäß Ω"
    d.mkdir()
    src = d / "entrée.pdf"
    shutil.copy(SAMPLE, src)
    out = d / "livret é.pdf"
    quirefold.make_booklet(src, out)
    assert quirefold.page_count(out) == 4
    missing = d / "nicht da ü.pdf"
    with pytest.raises(quirefold.QuirefoldError) as e:
        quirefold.page_count(missing)
    assert str(e.value) == f"cannot open {missing}: No such file or directory"


def test_failed_create_leaves_existing_output_untouched(tmp_path):
    out = tmp_path / "keep.pdf"
    out.write_bytes(b"precious")
    with pytest.raises(quirefold.QuirefoldError):
        quirefold.make_booklet(tmp_path / "missing.pdf", out)
    assert out.read_bytes() == b"precious"


def test_wrong_path_type():
    with pytest.raises(TypeError):
        quirefold.page_count(42)


def test_compress_false_writes_decoded_content_like_the_classic_library(tmp_path):
    small = quirefold.booklet_bytes(SAMPLE.read_bytes(), sheet="a4").data
    plain = quirefold.booklet_bytes(SAMPLE.read_bytes(), sheet="a4", compress=False).data
    assert plain.startswith(b"%PDF-1.4\n") and b"/Type /ObjStm" not in plain
    assert len(small) < len(plain)


def test_annotations_print_by_default_and_none_leaves_them_out():
    printed = quirefold.booklet_bytes(FORM.read_bytes(), compress=False).data
    default = quirefold.booklet_bytes(FORM.read_bytes(), compress=False,
                                      annotations="print").data
    bare = quirefold.booklet_bytes(FORM.read_bytes(), compress=False, annotations="none").data
    assert printed == default
    # The fields' appearance streams come along only when they are printed.
    assert bare.startswith(b"%PDF-") and len(printed) > len(bare) + 1000
