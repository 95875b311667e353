#!/usr/bin/env python3
"""Writes a calendar of N events with zones, recurrences, attendees and
alarms for the calendar benchmark: calendar_gen.py N OUT.ics"""
import sys

ZONES = """BEGIN:VTIMEZONE\r\nTZID:America/New_York\r\nBEGIN:STANDARD\r\nDTSTART:20071104T020000\r
TZOFFSETFROM:-0400\r\nTZOFFSETTO:-0500\r\nRRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\r\nEND:STANDARD\r
BEGIN:DAYLIGHT\r\nDTSTART:20070311T020000\r\nTZOFFSETFROM:-0500\r\nTZOFFSETTO:-0400\r
RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r
BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:STANDARD\r\nDTSTART:19701025T030000\r
TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r
BEGIN:DAYLIGHT\r\nDTSTART:19700329T020000\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r
RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n"""

RULES = ["FREQ=WEEKLY;BYDAY=MO,WE;COUNT=10", "FREQ=DAILY;INTERVAL=2;UNTIL=20251231T000000Z",
         "FREQ=MONTHLY;BYDAY=-1FR", "FREQ=YEARLY;COUNT=5"]


def event(i):
    zone = "America/New_York" if i % 2 else "Europe/Berlin"
    month, day, hour = 1 + i % 12, 1 + i % 28, 8 + i % 9
    lines = [
        "BEGIN:VEVENT",
        "UID:bench-%d@example.com" % i,
        "DTSTAMP:20240101T000000Z",
        "SUMMARY:Meeting number %d about the quarterly plan" % i,
        "LOCATION:Room %d\\, building %d" % (i % 50, i % 7),
        "DTSTART;TZID=%s:2024%02d%02dT%02d0000" % (zone, month, day, hour),
        "DTEND;TZID=%s:2024%02d%02dT%02d3000" % (zone, month, day, hour),
        "DESCRIPTION:Agenda for meeting %d: review the numbers\\, agree on the next" % i,
        " steps and write down who does what by when.",
        "ORGANIZER;CN=Organizer %d:mailto:org%d@example.com" % (i % 100, i % 100),
    ]
    for a in range(3):
        lines.append("ATTENDEE;ROLE=REQ-PARTICIPANT;PARTSTAT=ACCEPTED;CN=Person %d:mailto:p%d@example.com"
                     % (i + a, i + a))
    if i % 4 == 0:
        lines.append("RRULE:" + RULES[(i // 4) % len(RULES)])
    lines += ["BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:Reminder", "TRIGGER:-PT15M", "END:VALARM",
              "END:VEVENT"]
    return "\r\n".join(lines) + "\r\n"


def main():
    count, path = int(sys.argv[1]), sys.argv[2]
    with open(path, "w", newline="") as out:
        out.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bvole//bench//EN\r\n" + ZONES)
        for i in range(count):
            out.write(event(i))
        out.write("END:VCALENDAR\r\n")


if __name__ == "__main__":
    main()
