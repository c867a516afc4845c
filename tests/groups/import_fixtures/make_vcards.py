#!/usr/bin/python3
# Writes the vCard fixtures of the address-book import tests with python3-vobject, an independent
# writer: several cards, a preferred EMAIL after another one, commas and line breaks in fields,
# non-ASCII names, a card without an e-mail address. Run from this folder; the output is committed.
import vobject


def card(fn, emails=(), tels=(), adrs=(), org=None, title=None, n=None):
    c = vobject.vCard()
    c.add('n').value = n or vobject.vcard.Name(family=fn.split()[-1], given=fn.split()[0])
    c.add('fn').value = fn
    for value, types in emails:
        e = c.add('email')
        e.value = value
        if types:
            e.type_paramlist = types
    for value, types in tels:
        t = c.add('tel')
        t.value = value
        t.type_paramlist = types
    for adr, types in adrs:
        a = c.add('adr')
        a.value = adr
        a.type_paramlist = types
    if org:
        c.add('org').value = org
    if title:
        c.add('title').value = title
    return c


cards = [
    card('Ann Lee',
         emails=[('ann.work@example.com', ['INTERNET']), ('ann@example.com', ['INTERNET', 'pref'])],
         tels=[('+1 555 0100', ['HOME', 'VOICE']), ('+1 555 0101', ['CELL']),
               ('+1 555 0102', ['WORK', 'FAX']), ('1,234', ['WORK', 'VOICE'])],
         adrs=[(vobject.vcard.Address(street='1, Main St\nFlat 2', city='Springfield',
                                      region='IL', code='62701', country='USA'), ['HOME']),
               (vobject.vcard.Address(street='9 Work Rd', city='Shelbyville', region='IL',
                                      code='62565', country='USA'), ['WORK'])],
         org=['Smith, Jones & Co', 'Sales'], title='Manager, Sales'),
    card('Zoë Ångström', emails=[('zoe@example.org', ['INTERNET'])],
         title='Directrice générale des systèmes d’information et de la stratégie numérique'),
    card('No Mail', tels=[('555', ['HOME'])]),
]
with open('contacts_vobject.vcf', 'w', newline='') as f:
    for c in cards:
        f.write(c.serialize())
