"""Checks the relative links of the top folder's *.md and docs/*.md: each names a file that exists and, after '#', a
heading of that file (as a code host makes its anchors). Prints every broken link; exit status 1 if any."""

import glob
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def anchors(path):
    """The anchors of a Markdown file's headings: lower case, punctuation dropped, blanks as '-'."""
    with open(path, encoding="utf-8") as text:
        headings = re.findall(r"^#+ +(.+?) *$", text.read(), re.MULTILINE)
    return {re.sub(r"[^\w\- ]", "", heading.lower()).replace(" ", "-") for heading in headings}


broken = []
for page in sorted(glob.glob(os.path.join(ROOT, "*.md"))) + sorted(glob.glob(os.path.join(ROOT, "docs", "*.md"))):
    with open(page, encoding="utf-8") as text:
        targets = re.findall(r"\]\(([^)\s]+)\)", text.read())
    for target in targets:
        if re.match(r"[a-z]+:", target):
            continue  # an address outside the project
        path, _, anchor = target.partition("#")
        resolved = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
        if not os.path.exists(resolved) or (anchor and anchor not in anchors(resolved)):
            broken.append("%s: %s" % (os.path.relpath(page, ROOT), target))
print("\n".join(broken) if broken else "Documentation links: all resolve.")
sys.exit(1 if broken else 0)
