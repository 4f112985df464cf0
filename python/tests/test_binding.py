import os
import pathlib
import shutil

import pytest

import quirefold

SAMPLE = pathlib.Path(__file__).resolve().parents[2] / "samples" / "sample.pdf"


def test_page_count_accepts_str_bytes_and_pathlike():
    assert quirefold.page_count(str(SAMPLE)) == 6
    assert quirefold.page_count(os.fsencode(str(SAMPLE))) == 6
    assert quirefold.page_count(SAMPLE) == 6


def test_missing_file_raises_with_the_library_message(tmp_path):
    missing = tmp_path / "missing.pdf"
    with pytest.raises(quirefold.QuirefoldError) as e:
        quirefold.page_count(missing)
    assert str(e.value) == f"cannot open {missing}"


def test_not_a_pdf(tmp_path):
    junk = tmp_path / "junk.pdf"
    junk.write_bytes(b"hello, world\n")
    with pytest.raises(quirefold.QuirefoldError) as e:
        quirefold.page_count(junk)
    assert str(e.value) == f"no PDF objects found \u2014 not a PDF: {junk}"


def test_make_booklet_writes_a_booklet(tmp_path):
    out = tmp_path / "booklet.pdf"
    quirefold.make_booklet(SAMPLE, out, sheet="a4")
    assert out.read_bytes().startswith(b"%PDF-1.4\n")
    assert quirefold.page_count(out) == 4  # six pages -> two sheets -> four sides


@pytest.mark.parametrize("sheet", ["auto", "a4", "letter", "a3", "A4"])
def test_every_sheet_name_is_accepted(tmp_path, sheet):
    out = tmp_path / f"b-{sheet}.pdf"
    quirefold.make_booklet(SAMPLE, out, sheet=sheet)
    assert out.exists()


def test_unknown_sheet_name_raises_value_error(tmp_path):
    with pytest.raises(ValueError):
        quirefold.make_booklet(SAMPLE, tmp_path / "x.pdf", sheet="tabloid")


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
    assert str(e.value) == f"cannot open {missing}"


def test_failed_create_leaves_existing_output_untouched(tmp_path):
    out = tmp_path / "keep.pdf"
    out.write_bytes(b"precious")
    with pytest.raises(quirefold.QuirefoldError):
        quirefold.make_booklet(tmp_path / "missing.pdf", out)
    assert out.read_bytes() == b"precious"


def test_wrong_path_type():
    with pytest.raises(TypeError):
        quirefold.page_count(42)
