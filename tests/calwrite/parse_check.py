#!/usr/bin/env python3
"""Parses calendar files with python3-icalendar. Prints one line per file
that does not parse, with the error, and exits 1 when there was one."""
import sys

import icalendar


def check(path):
    calendars = icalendar.Calendar.from_ical(open(path, 'rb').read(), multiple=True)
    for calendar in calendars:
        for component in calendar.walk():
            if component.name in ('VEVENT', 'VTODO'):
                component.decoded('DTSTART', None)
            for error in getattr(component, 'errors', []):
                raise ValueError('%s: %s' % (component.name, error))


failed = False
for name in sys.argv[1:]:
    try:
        check(name)
    except Exception as error:  # pylint: disable=broad-except
        print('%s: icalendar: %s' % (name, error))
        failed = True
sys.exit(1 if failed else 0)
