#!/usr/bin/env python3
# Every text the application and the service can show speaks Linux.
#
# The catalogue is every string literal in their sources (adjacent literals joined,
# as the compiler joins them), so a sentence added anywhere later is checked too.
# Exit status 1 names each text that still speaks of macOS keys or settings.
import pathlib, re, sys

# Whole words, so that "Options:" heading a usage text is no Option key.
FORBIDDEN = re.compile(r"\bCommand\b|\bOption\b|⌃|⌥|macOS|\bMac |menu bar|System Settings"
                       r"|Login Items|\bFinder\b|\bDock\b")
FOLDERS = ["VeridovCore", "Wispen", "service"]
COMMENT = re.compile(r'^\s*#\s*include[^\n]*|//[^\n]*|/\*.*?\*/|("(?:\\.|[^"\\\n])*")', re.S | re.M)
LITERAL = re.compile(r'"((?:\\.|[^"\\\n])*)"')
JOINED = re.compile(r'"(?:\\.|[^"\\\n])*"(?:\s*"(?:\\.|[^"\\\n])*")*')


def catalogue(root):
    for folder in FOLDERS:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".cpp", ".h") or not path.is_file():
                continue
            source = COMMENT.sub(lambda m: m.group(1) or " ", path.read_text(encoding="utf-8"))
            for run in JOINED.finditer(source):
                line = source.count("\n", 0, run.start()) + 1
                yield path.relative_to(root), line, "".join(LITERAL.findall(run.group(0)))


def main():
    root = pathlib.Path(sys.argv[1])
    texts = list(catalogue(root))
    if len(texts) < 100:  # a wrong root would pass vacuously
        print(f"only {len(texts)} texts found under {root}")
        return 1
    bad = [(p, n, t, m.group(0)) for p, n, t in texts for m in FORBIDDEN.finditer(t)]
    for path, line, text, word in bad:
        print(f"{path}:{line}: names {word!r}: {text}")
    print(f"{len(texts) - len(bad)} passed, {len(bad)} failed")
    return 1 if bad else 0


sys.exit(main())
