// The dates of HTTP header fields (Date, Last-Modified), read as plain values.
// Builds without the Windows headers.
#pragma once

// What ParseHttpDate gives for a text that is no date it reads.
const long long HTTP_DATE_NONE = -1;

// Seconds from 1970-01-01 00:00:00 GMT to the date in `text`, which must be in
// the one form that servers send today ("Sun, 06 Nov 1994 08:49:37 GMT",
// case-sensitive, blanks after it allowed), of a year from 1970 to 9999.
// HTTP_DATE_NONE for anything else, the two obsolete forms (RFC 850's and
// asctime's) included: a date that is not read can never vouch for a file.
long long ParseHttpDate(const char* text);
