#!/usr/bin/env python3
"""Every calendar file of the public corpus read through bvhost dump: each
VEVENT and VTODO ends in exactly one status, and the summaries and start
times of the events handed over agree with python3-icalendar's reading.
Usage: corpus_check.py BVHOST CORPUS_DIR (exit 77: skipped)."""
import datetime
import json
import os
import quopri
import re
import subprocess
import sys
import tempfile

try:
    import icalendar
except ImportError:
    print("python3-icalendar missing: skipped")
    sys.exit(77)

TITLE_MAX = 350

# Files whose start times differ for a stated reason of the zone-name
# mapping; their entry counts and titles are still checked.
KNOWN_TIME_DIFFERENCES = {
    "ical4j_apple_macosx_10.8.ics": "Europe/Bucharest is taken by the zone key list's \"Europe\" prefix (UTC+1)",
}


def entry_lines(raw):
    """BEGIN:VEVENT / BEGIN:VTODO lines, blanks after the colon ignored."""
    kinds = []
    for line in raw.splitlines():
        line = re.sub(rb":\s+", b":", line.strip(), count=1).upper()
        if line.startswith(b"BEGIN:VEVENT"):
            kinds.append("VEVENT")
        elif line.startswith(b"BEGIN:VTODO"):
            kinds.append("VTODO")
    return kinds


def dump(bvhost, path, work):
    out = os.path.join(work, "out.jsonl")
    if os.path.exists(out):
        os.remove(out)
    env = dict(os.environ, TZ="UTC")
    run = subprocess.run([bvhost, "dump", "--source", "calendar:" + path, "--out", out, "--switches", "/UTF8",
                          "--work-dir", os.path.join(work, "w"), "--log", os.path.join(work, "log.txt")],
                         env=env, capture_output=True, timeout=120)
    items, statuses = [], []
    if os.path.exists(out):
        for line in open(out, encoding="utf-8", errors="replace"):
            obj = json.loads(line)
            if obj["type"] == "item":
                items.append(obj["record"])
            elif obj["type"] == "status":
                statuses.append(obj["status"])
    return run.returncode, items, statuses


def expected_start(component):
    value = component.get("DTSTART")
    if value is None:
        return None
    dt = value.dt
    if isinstance(dt, datetime.datetime):
        if dt.tzinfo is None:
            dt = dt.replace(tzinfo=datetime.timezone.utc)  # floating: the machine's zone, UTC here
        return dt.astimezone(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:00Z")
    return dt.strftime("%Y-%m-%dT12:00:00Z")  # a day: noon of that day


def expected_summary(component):
    """icalendar leaves vCalendar 1.0 quoted-printable values encoded."""
    value = component.get("SUMMARY", "")
    params = getattr(value, "params", {})
    text = str(value)
    if str(params.get("ENCODING", "")).upper() == "QUOTED-PRINTABLE":
        charset = str(params.get("CHARSET", "utf-8"))
        text = quopri.decodestring(text.encode("latin-1", "replace")).decode(charset, "replace")
    return text.strip()[:TITLE_MAX].strip()


def weekly_aligned(record, start):
    """A weekly rule moves the start to the first day of its mask (up to six days on)."""
    if record.get("recurType") != 5 or not record.get("startTime"):
        return False
    moved = datetime.datetime.strptime(record["startTime"], "%Y-%m-%dT%H:%M:%SZ")
    original = datetime.datetime.strptime(start, "%Y-%m-%dT%H:%M:%SZ")
    days = (moved - original).total_seconds() / 86400
    return days == int(days) and 0 < days < 7


def icalendar_entries(raw):
    try:
        calendars = icalendar.Calendar.from_ical(raw, multiple=True)
    except Exception:
        return None
    entries = []
    for calendar in calendars:
        for component in calendar.walk():
            if component.name in ("VEVENT", "VTODO"):
                entries.append(component)
    return entries


def check_file(bvhost, path, work):
    problems = []
    raw = open(path, "rb").read()
    kinds = entry_lines(raw)
    code, items, statuses = dump(bvhost, path, work)
    if code != 0:
        problems.append("bvhost exit status %d" % code)
    if len(statuses) != len(kinds):
        problems.append("%d statuses for %d entries" % (len(statuses), len(kinds)))
    handed = sum(1 for s in statuses if s == 0)
    if handed != len(items):
        problems.append("%d items for %d hand-overs" % (len(items), handed))
    entries = icalendar_entries(raw)
    if entries is None or len(entries) != len(kinds):
        return problems, 0  # icalendar cannot read it whole: counts only
    compared = 0
    item = iter(items)
    for component, status in zip(entries, statuses):
        if status != 0:
            if component.name == "VEVENT" and status == 6:
                problems.append("event %r skipped" % str(component.get("SUMMARY", "")))
            continue
        record = next(item, None)
        if record is None:
            break
        summary = expected_summary(component)
        if record.get("title", "") != summary:
            problems.append("title %r, icalendar %r" % (record.get("title", ""), summary))
        start = expected_start(component)
        known = os.path.basename(path) in KNOWN_TIME_DIFFERENCES
        if start and record.get("startTime") != start and not weekly_aligned(record, start) and not known:
            problems.append("%r starts %s, icalendar %s" % (summary, record.get("startTime"), start))
        compared += 1
    return problems, compared


def main():
    bvhost, corpus = sys.argv[1], sys.argv[2]
    files = []
    for sub in ("ics", "vcs"):
        folder = os.path.join(corpus, sub)
        if os.path.isdir(folder):
            files += [os.path.join(folder, name) for name in sorted(os.listdir(folder))]
    if not files:
        print("corpus not found: skipped")
        return 77
    failed = 0
    total = 0
    with tempfile.TemporaryDirectory() as work:
        for path in files:
            problems, compared = check_file(bvhost, path, work)
            total += compared
            if problems:
                failed += 1
                print("FAIL %s" % os.path.basename(path))
                for problem in problems[:10]:
                    print("    " + problem)
    print("%d files, %d events compared with icalendar" % (len(files), total))
    print("%d passed, %d failed" % (len(files) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
