"""--junit FILE: a report's model as a JUnit XML file, so that a CI system shows a
rehearsal (or the report of a PC's C:\\VELK) as tests: one test case per entry of the run
list and one for the whole run."""

import os
import re
import tempfile
import xml.etree.ElementTree as ET

from .host import VpcError

# A JUnit file of this tool bears this name on its root; only such a file is written over.
SUITES_NAME = "scripts/vpc"
WHOLE_RUN = "the whole run"
# XML 1.0 has no form for these, not even escaped; a line of a binary error file or a
# file name that was no UTF-8 (kept as lone surrogates) would make the file unreadable.
NOT_XML = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\ud800-\udfff\ufffe\uffff]")


def clean(text):
    return NOT_XML.sub("", str(text))


def seconds_text(seconds):
    return "%.3f" % seconds if isinstance(seconds, (int, float)) else "0"


def test_cases(model):
    """[(name, seconds, None or ("failure" or "skipped", message, text))]: each entry, then the run."""
    cases = []
    for entry in model.get("entries", []):
        name = "entry %d (line %d): %s %s" % (entry["number"], entry["line_number"], entry["wrapper"],
                                              entry["command"])
        if entry["result_kind"] == "done":
            verdict = None
        elif entry["result_kind"] == "failed":
            verdict = ("failure", entry["result"], "\n".join(entry["errors"]) or entry["result"])
        else:
            verdict = ("skipped", entry["result"], "")
        cases.append((name, entry.get("seconds"), verdict))
    whole = None
    if not model.get("finished"):
        lines = [model["outcome"]] + list(model.get("error_lines") or [])
        whole = ("failure", model["outcome"], "\n".join(lines))
    cases.append((WHOLE_RUN, model.get("total_seconds"), whole))
    return cases


def junit_xml(model, cases=None):
    """The JUnit XML text of a report's model; or of cases (as test_cases gives them)
    under the model's title and time, for a run of many rehearsals."""
    cases = test_cases(model) if cases is None else cases
    counts = {"tests": str(len(cases)), "failures": str(sum(1 for c in cases if c[2] and c[2][0] == "failure")),
              "errors": "0", "skipped": str(sum(1 for c in cases if c[2] and c[2][0] == "skipped")),
              "time": seconds_text(model.get("total_seconds"))}
    root = ET.Element("testsuites", name=SUITES_NAME, **counts)
    suite = ET.SubElement(root, "testsuite", name=clean(model["title"]), **counts)
    for name, seconds, verdict in cases:
        case = ET.SubElement(suite, "testcase", classname=clean(model["title"]), name=clean(name),
                             time=seconds_text(seconds))
        if verdict:
            kind, message, text = verdict
            ET.SubElement(case, kind, message=clean(message)).text = clean(text) or None
    ET.indent(root)
    return '<?xml version="1.0" encoding="UTF-8"?>\n' + ET.tostring(root, encoding="unicode") + "\n"


def failed_model(title, why):
    """The model of a run that made no report, so that CI still sees it fail."""
    return {"title": title, "entries": [], "finished": False, "outcome": why, "total_seconds": None}


def is_own_file(path):
    try:
        return ET.parse(path).getroot().get("name") == SUITES_NAME
    except (ET.ParseError, OSError):
        return False


class JUnitFile:
    """The file --junit names. Checked before the run, so that a long rehearsal does not
    end in a refusal; written once a model is there."""

    def __init__(self, path):
        self.path = os.path.abspath(path)
        self.written = False
        if os.path.islink(self.path) or os.path.isdir(self.path):
            raise VpcError("%s is a link or a folder; name a file for --junit" % path)
        if not os.path.isdir(os.path.dirname(self.path)):
            raise VpcError("%s: no such folder for --junit" % os.path.dirname(self.path))
        if os.path.exists(self.path) and not is_own_file(self.path):
            raise VpcError("%s is not a JUnit file of this tool; name a new file for --junit" % path)

    def write(self, model, cases=None):
        # Written beside under a new name and swapped in: a full disk never leaves half a
        # file for CI to read, and no file of the user's is written over on the way.
        try:
            handle, partial = tempfile.mkstemp(prefix=".junit-", dir=os.path.dirname(self.path))
        except OSError as error:
            raise VpcError("the JUnit file %s could not be written: %s" % (self.path, error.strerror))
        try:
            with os.fdopen(handle, "w", encoding="utf-8") as f:
                f.write(junit_xml(model, cases))
            os.chmod(partial, 0o644)
            os.replace(partial, self.path)
        except OSError as error:
            os.remove(partial)
            raise VpcError("the JUnit file %s could not be written: %s" % (self.path, error.strerror))
        self.written = True

    def begin(self, title):
        """Until the run writes its outcome, the file says it has not ended: a run killed
        on the way never leaves the file of an earlier run to pass for its own."""
        self.write(failed_model(title, "the run did not end (killed, or still running)"))
        self.written = False
