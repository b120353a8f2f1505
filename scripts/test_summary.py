#!/usr/bin/env python3
"""test_summary.py RESULTS.xml...: the test command's closing line from ctest's JUnit files.
Skips count apart from passes, each named with its reason; so does a check skipped inside a
test that passed (a line "SKIPPED: reason" in its output, or a skipped GoogleTest case)."""

import re
import sys
import xml.etree.ElementTree as ElementTree

# Our harnesses print "SKIPPED: reason"; GoogleTest prints "file:line: Skipped" above it.
REASON = re.compile(r"^SKIPPED: (.+)$|: Skipped\n(.+)$", re.M)


def main(paths):
    counts = {"passed": 0, "failed": 0, "skipped": 0}
    notes = []
    for path in paths:
        for case in ElementTree.parse(path).getroot().iter("testcase"):
            output = case.findtext("system-out") or ""
            reasons = [a or b for a, b in REASON.findall(output)]
            if case.find("failure") is not None or case.get("status") == "fail":
                counts["failed"] += 1
            elif case.find("skipped") is not None or case.get("status") == "notrun":
                counts["skipped"] += 1
                notes.append(f"{case.get('name')} skipped: {(reasons or ['no reason given'])[0]}")
            else:
                counts["passed"] += 1
                notes += [f"{case.get('name')} passed, one check skipped: {reason}"
                          for reason in reasons]
    print("SorelCheck: {passed} passed, {failed} failed, {skipped} skipped".format(**counts) +
          (" (" + "; ".join(notes) + ")" if notes else ""))
    return 1 if counts["failed"] or not any(counts.values()) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
