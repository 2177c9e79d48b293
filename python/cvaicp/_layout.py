"""The records and exports of include/cvaicp.h and include/cvaicp_exports.h, as the compiler
sees them: written by python/binding_layout.cpp, never by hand (the test python_layout
compares)."""

VERSION = "1.0.0"

# name: (size, [(field, kind, size, offset), ...])
RECORDS = {
    "AppointmentRequest": (648, [
        ("Mailbox", "text", 256, 0),
        ("Postoffice", "text", 256, 256),
        ("StartTime", "int32", 4, 512),
        ("FinishTime", "int32", 4, 516),
        ("ItemId", "text", 64, 520),
        ("PeriodName", "text", 64, 584),
    ]),
    "AppointmentItemRequest": (8772, [
        ("Mailbox", "text", 256, 0),
        ("Postoffice", "text", 256, 256),
        ("ItemFileName", "text", 64, 512),
        ("Data", "text", 8192, 576),
        ("DataLength", "int32", 4, 8768),
    ]),
    "FreeBusyRequest": (8776, [
        ("Mailbox", "text", 256, 0),
        ("Postoffice", "text", 256, 256),
        ("NamePrefix", "text", 68, 512),
        ("BusyDays", "text", 8192, 580),
        ("BusyDaysLength", "int32", 4, 8772),
    ]),
    "ListContext": (5388, [
        ("Reserved", "text", 1024, 0),
        ("RangeStart", "int32", 4, 1024),
        ("RangeEnd", "int32", 4, 1028),
        ("Postoffice", "text", 128, 1032),
        ("Mailbox", "text", 128, 1160),
        ("Stylesheet", "text", 4096, 1288),
        ("Reserved2", "text", 4, 5384),
    ]),
    "ListItem": (8780, [
        ("Mailbox", "text", 256, 0),
        ("Postoffice", "text", 256, 256),
        ("StartTime", "int32", 4, 512),
        ("FinishTime", "int32", 4, 516),
        ("ItemId", "text", 64, 520),
        ("ItemXml", "text", 8192, 584),
        ("ItemXmlLength", "uint32", 4, 8776),
    ]),
}

# name: [argument record, ...], in ordinal order
EXPORTS = {
    "AppointmentAdd": ["AppointmentRequest"],
    "AppointmentEdit": ["AppointmentRequest", "AppointmentRequest"],
    "AppointmentRemove": ["AppointmentRequest"],
    "AppointmentFindFirst": ["AppointmentRequest"],
    "AppointmentFindNext": ["AppointmentRequest"],
    "AppointmentGet": ["AppointmentRequest"],
    "AppointmentGetLastError": [],
    "AppointmentItemWriteFirstChunk": ["AppointmentItemRequest"],
    "AppointmentItemWriteNextChunk": ["AppointmentItemRequest"],
    "AppointmentItemGetCurrentOffset": ["AppointmentItemRequest"],
    "AppointmentItemGetSize": ["AppointmentItemRequest"],
    "AppointmentItemGetFirstChunk": ["AppointmentItemRequest"],
    "AppointmentItemGetNextChunk": ["AppointmentItemRequest"],
    "SetCurrentHost": ["text"],
    "AppointmentItemDelete": ["AppointmentItemRequest"],
    "GetFreeBusyData": ["FreeBusyRequest"],
    "AppointmentListItemFindFirst": ["ListContext", "ListItem"],
    "AppointmentListItemFindNext": ["ListContext", "ListItem"],
    "AppointmentListItemFindClose": ["ListContext"],
}
