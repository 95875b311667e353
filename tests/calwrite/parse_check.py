#!/usr/bin/env python3
"""Parses calendar files with python3-icalendar: one line per file that does
not parse, with the error; exit status 1 when there was one."""
import sys

import icalendar

failed = False
for name in sys.argv[1:]:
    try:
        for calendar in icalendar.Calendar.from_ical(open(name, 'rb').read(), multiple=True):
            for component in calendar.walk():
                if component.name in ('VEVENT', 'VTODO'):
                    component.decoded('DTSTART', None)
                if getattr(component, 'errors', []):
                    raise ValueError('%s: %s' % (component.name, component.errors[0]))
    except Exception as error:  # pylint: disable=broad-except
        print('%s: icalendar: %s' % (name, error))
        failed = True
sys.exit(1 if failed else 0)
