"""Validates every workflow file in .github/workflows against the published workflow schema, with the npm
validator that scripts/lib/workflows.sh installs, and checks that every project path a workflow names (in a step
or a comment) exists. It shows that each check catches errors: a copy of each file with an unknown key in a job,
one with a job's runs-on removed, and one naming a missing page, must be refused.

Usage: check_workflows.py VALIDATOR (the action-validator command)

The validator's schema predates one permission GitHub documents (`attestations`, which the build-provenance
action needs): that line alone is left out of what it is given, so that the rest of the file is still checked.
"""

import glob
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Documented by GitHub after the validator's schema was made ("Assigning permissions to jobs").
NEWER_THAN_THE_SCHEMA = re.compile(r"^\s+attestations: (read|write|none)\s*$")
# A path in the project's own folders, where it starts a word (build/PRESET/tests/... is a build's output).
PROJECT_PATH = re.compile(r"(?<![\w$./-])((?:\.ci|\.github|cmake|docs|examples|res|scripts|src|tests)/[\w./-]*\w)")


def validate(validator, text, folder, name):
    """The validator's verdict on `text` (as a file named `name`): (passed, what it said)."""
    path = os.path.join(folder, name)
    with open(path, "w", encoding="utf-8") as file:
        file.write("\n".join(line for line in text.split("\n") if not NEWER_THAN_THE_SCHEMA.match(line)))
    done = subprocess.run([validator, path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
    return done.returncode == 0, done.stdout


def missing_paths(text):
    """The project paths that `text` names and the checkout lacks."""
    return sorted({path for path in PROJECT_PATH.findall(text) if not os.path.exists(os.path.join(ROOT, path))})


def planted_errors(text):
    """Copies of a workflow with one error each: an unknown key in its first job, and that job without runs-on."""
    unknown = re.sub(r"(?m)^(    runs-on: .*)$", r"\1\n    runs-at: nowhere", text, count=1)
    without_runs_on = re.sub(r"(?m)^    runs-on: .*\n", "", text, count=1)
    return {"an unknown key in a job": unknown, "a job without runs-on": without_runs_on}


def main(validator):
    files = sorted(glob.glob(os.path.join(ROOT, ".github", "workflows", "*.y*ml")))
    if not files:
        print("No workflow files in .github/workflows.")
        return 1
    failures = 0
    with tempfile.TemporaryDirectory(prefix="ombrin-workflows-") as folder:
        for path in files:
            name = os.path.relpath(path, ROOT)
            with open(path, encoding="utf-8") as file:
                text = file.read()
            passed, said = validate(validator, text, folder, os.path.basename(path))
            print("%s: %s" % (name, "valid" if passed else "INVALID\n" + said))
            failures += not passed
            missing = missing_paths(text)
            print("%s: %s" % (name, "names missing files: " + ", ".join(missing) if missing else
                              "every project path it names exists"))
            failures += bool(missing)
            planted = "# See docs/no-such-page.md.\n" + text
            caught = "docs/no-such-page.md" in missing_paths(planted)
            print("%s naming a missing page: %s" % (name, "refused, as it must be" if caught else "NOT CAUGHT"))
            failures += not caught
            for error, planted in planted_errors(text).items():
                if planted == text:
                    print("%s: no job with runs-on to plant %s in" % (name, error))
                    failures += 1
                    continue
                caught, _ = validate(validator, planted, folder, os.path.basename(path))
                print("%s with %s: %s" % (name, error, "refused, as it must be" if not caught else "NOT CAUGHT"))
                failures += caught
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
