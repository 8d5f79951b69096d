"""Validates every workflow file in .github/workflows against the published workflow schema, with the npm
validator that scripts/lib/workflows.sh installs, and shows that the check catches errors: a copy of each file
with an unknown key in a job, and one with a job's runs-on removed, must be refused.

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


def validate(validator, text, folder, name):
    """The validator's verdict on `text` (as a file named `name`): (passed, what it said)."""
    path = os.path.join(folder, name)
    with open(path, "w", encoding="utf-8") as file:
        file.write("\n".join(line for line in text.split("\n") if not NEWER_THAN_THE_SCHEMA.match(line)))
    done = subprocess.run([validator, path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
    return done.returncode == 0, done.stdout


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
