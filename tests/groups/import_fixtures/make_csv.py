#!/usr/bin/python3
# Writes the CSV fixtures of the "Columns of a CSV file" import tests with Python's csv module, an
# independent writer, in the shapes the common address books export: Outlook's header names,
# Google Contacts' numbered "E-mail 1 - Value" columns, Thunderbird's "Primary Email", a European
# spreadsheet's semicolons with a UTF-8 byte order mark, and a hand-made file without a header.
# Quoted commas, doubled quotes and line breaks inside quotes appear in each. Run from this folder;
# the output is committed.
import csv


def write(name, rows, delimiter=',', bom=False, lineterminator='\r\n'):
    with open(name, 'w', newline='', encoding='utf-8-sig' if bom else 'utf-8') as f:
        w = csv.writer(f, delimiter=delimiter, lineterminator=lineterminator)
        w.writerows(rows)


write('outlook.csv', [
    ['Title', 'First Name', 'Middle Name', 'Last Name', 'Company', 'Business Street',
     'Business City', 'Business State', 'Business Postal Code', 'Business Country/Region',
     'Business Phone', 'Mobile Phone', 'Business Fax', 'E-mail Address', 'E-mail Type',
     'E-mail Display Name', 'E-mail 2 Address'],
    ['Mr', 'John', '', 'Smith', 'Smith, Jones & Co', '1 Main St\nSuite 5', 'Springfield', 'IL',
     '62701', 'United States', '555-0100', '555-0101', '555-0102', 'john.smith@example.com',
     'SMTP', 'John Smith (john.smith@example.com)', 'js@home.example'],
    ['Ms', 'Ann', '', 'Lee', 'Lee "Design" Ltd', '', 'Boston', 'MA', '02101', 'United States',
     '', '', '', 'ann.lee@example.com', 'SMTP', '', ''],
    ['', 'Nomail', '', 'Person', '', '', '', '', '', '', '', '', '', '', '', '', ''],
])

write('google.csv', [
    ['Name', 'Given Name', 'Family Name', 'Organization 1 - Name', 'E-mail 1 - Type',
     'E-mail 1 - Value', 'E-mail 2 - Type', 'E-mail 2 - Value', 'Phone 1 - Type',
     'Phone 1 - Value', 'Address 1 - City', 'Address 1 - Country'],
    ['Zoë Müller', 'Zoë', 'Müller', 'Acme', '* Work', 'zoe@example.org', 'Home',
     'zoe@home.example', 'Mobile', '+49 30 1234', 'Berlin', 'Germany'],
    ['Bob Stone', 'Bob', 'Stone', '', '* Other', 'bob@example.com', '', '', '', '', '', ''],
], lineterminator='\n')

write('thunderbird.csv', [
    ['First Name', 'Last Name', 'Display Name', 'Nickname', 'Primary Email', 'Secondary Email',
     'Work Phone', 'Home City', 'Organization'],
    ['Pat', "O'Neil", "Pat O'Neil", 'pat', 'pat@example.net', 'p2@example.net', '555 0199',
     'Dublin', 'Quill, Inc.'],
])

write('semicolon_bom.csv', [
    ['Name', 'E-Mail', 'Firma', 'City'],
    ['Jörg Weiß', 'joerg@example.de', 'Weiß; Söhne', 'Köln'],
    ['Marie Curie', 'marie@example.fr', '', 'Paris'],
], delimiter=';', bom=True)

write('no_header.csv', [
    ['first@example.com', 'First Person'],
    ['second@example.com', 'Second Person'],
])
