#!/usr/bin/python3
"""Occurrences of the series in an .ics file, by python3-icalendar and
python3-dateutil: per event "UID<TAB>occurrences<TAB>deleted starts", the
occurrences counted without the EXDATEs, the EXDATE starts as UTC
"YYYY-MM-DDTHH:MM", or as "YYYY-MM-DD" for all-day events."""
import datetime
import sys

import icalendar
import zoneinfo
from dateutil import rrule


def real_zone(value):
    """icalendar gives pytz zones, whose fixed offset dateutil would keep
    across daylight changes; the same zone from zoneinfo changes with them."""
    name = getattr(getattr(value, "tzinfo", None), "zone", None)
    if name and name != "UTC":
        return value.replace(tzinfo=zoneinfo.ZoneInfo(name))
    return value


def as_utc_text(value):
    if not isinstance(value, datetime.datetime):
        return value.strftime("%Y-%m-%d")
    return value.astimezone(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M")


def main(path):
    with open(path, "rb") as f:
        calendar = icalendar.Calendar.from_ical(f.read())
    for event in calendar.walk("VEVENT"):
        start = real_zone(event.decoded("DTSTART"))
        all_day = not isinstance(start, datetime.datetime)
        first = datetime.datetime.combine(start, datetime.time()) if all_day else start
        rule_text = event.get("RRULE").to_ical().decode()
        rule = rrule.rrulestr(rule_text, dtstart=first)
        occurrences = list(rule)
        exdates = event.get("EXDATE", [])
        if not isinstance(exdates, list):
            exdates = [exdates]
        deleted = []
        for group in exdates:
            for entry in group.dts:
                value = real_zone(entry.dt)
                deleted.append(as_utc_text(value))
        print("%s\t%d\t%s" % (event.get("UID"), len(occurrences), " ".join(sorted(deleted))))


if __name__ == "__main__":
    main(sys.argv[1])
