#!/usr/bin/python3
# Writes the spreadsheet fixtures of the SpreadsheetFile tests with independent writers:
# python3-xlwt (.xls), python3-openpyxl (.xlsx), python3-odf (.ods). Every file holds the same two
# sheets: "People" (a header row with an address in it, non-ASCII text, numbers, empty cells) and
# "Other". Run from this folder; the output is committed.
import openpyxl
import xlwt
from odf.opendocument import OpenDocumentSpreadsheet
from odf.table import Table, TableRow, TableCell
from odf.text import P

PEOPLE = [
    ['Name', 'ann.lee@example.com', 'Amount', 'Note'],
    ['Zoë Ångström', 'zoe@example.org', 42, None],
    ['Bob', 'bob@example.com', 3.5, 'first, second'],
    [None, None, None, None],
    ['Kim', 'not an address', -7, 'x'],
    [None, 'last@example.net', 0.001, None],
]
OTHER = [['only@other.example']]
SHEETS = [('People', PEOPLE), ('Other', OTHER)]

book = xlwt.Workbook(encoding='utf-8')
for name, rows in SHEETS:
    ws = book.add_sheet(name)
    for r, row in enumerate(rows):
        for c, v in enumerate(row):
            if v is not None:
                ws.write(r, c, v)
book.save('people.xls')

wb = openpyxl.Workbook()
wb.remove(wb.active)
for name, rows in SHEETS:
    ws = wb.create_sheet(name)
    for r, row in enumerate(rows, start=1):
        for c, v in enumerate(row, start=1):
            if v is not None:
                ws.cell(row=r, column=c, value=v)
wb.save('people.xlsx')

doc = OpenDocumentSpreadsheet()
for name, rows in SHEETS:
    t = Table(name=name)
    for row in rows:
        tr = TableRow()
        for v in row:
            if v is None:
                tr.addElement(TableCell())
            elif isinstance(v, str):
                cell = TableCell(valuetype='string')
                cell.addElement(P(text=v))
                tr.addElement(cell)
            else:
                cell = TableCell(valuetype='float', value=v)
                cell.addElement(P(text=str(v)))
                tr.addElement(cell)
        t.addElement(tr)
    doc.spreadsheet.addElement(t)
doc.save('people.ods')
