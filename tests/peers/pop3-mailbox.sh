#!/bin/bash
# The unsubscribe mailbox the POP3 tests read: requests for two groups (one name with a blank,
# sent as ":"), a bare "Unsubscribe" subject, a From without an address, a repeated request, a
# lower-case prefix and a body with lines that begin with dots. Message order is file-name order.
#   pop3-mailbox.sh MAILDIR
set -euo pipefail
M=$1
n=0
msg() {
  n=$((n + 1)); local f="17000000$(printf %02d $n).M${n}P1.test"
  printf '%s\r\n' "$@" > "$M/tmp/$f"; mv "$M/tmp/$f" "$M/new/$f"
}
H='To: unsub@example.test'
D='Date: Mon, 1 Jan 2024 10:00:00 +0000'
msg 'From: "Doe, Jane" <jane.doe@example.org>' "$H" "$D" 'Subject: Unsubscribe-My:Group' '' 'remove me'
msg 'From: bob@example.com' "$H" "$D" 'Subject: Unsubscribe-News' '' 'bye'
msg 'From: Carol <carol@example.net>' "$H" "$D" 'Subject: Unsubscribe' '' 'stop'
msg 'From: Undisclosed sender' "$H" "$D" 'Subject: Unsubscribe-News' '' 'no address'
msg 'From: Jane <jane.doe@example.org>' "$H" "$D" 'Subject: Unsubscribe-My:Group' '' 'again'
msg 'From: dots@example.org' "$H" "$D" 'Subject: unsubscribe-News' '' 'line 1' '.leading dot' '..two dots' '.' 'end'
