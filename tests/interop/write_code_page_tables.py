#!/usr/bin/python3
"""Writes tables in several code pages with other programs' writers.

usage: write_code_page_tables.py OUTDIR

python3-dbf and GDAL (ogr2ogr) write each table with its language driver
byte or .cpg file; the copies named NAME_bare.dbf then have the driver byte
set to 0 and no .cpg, so that only the text says the code page. GDAL's
originals keep their .cpg. Prints one line per table: "path<TAB>code page".
"""
import csv
import os
import shutil
import subprocess
import sys

TEXTS = {
    "russian": [
        "АО ЮниКредит Банк", "ПАО Сбербанк", "Банк ВТБ (ПАО)", "Иванов Пётр Сергеевич",
        "ул. Ленина, д. 15, кв. 7", "Москва", "Санкт-Петербург", "Новосибирск", "Екатеринбург",
        "Смирнова Ольга Викторовна", "ООО Ромашка", "Кузнецов Алексей", "проспект Мира, 101",
        "Нижний Новгород", "Ростов-на-Дону", "Казань", "Попова Мария Ивановна",
    ],
    "czech": [
        "Dvořák Antonín", "Nováková Jiřina", "Praha 4, Na Pankráci 1683/127", "Brno-střed",
        "Plzeň", "České Budějovice", "Ústí nad Labem", "Hradec Králové", "Černý Tomáš",
        "Svoboda Přemysl", "Žižkov, Koněvova 25", "Ostrava-Poruba", "Kovářová Růžena",
        "Olomouc", "Pardubice", "Liberec, Šaldova 12",
    ],
    "polish": [
        "Wiśniewski Łukasz", "Kraków, ul. Floriańska 14", "Łódź", "Gdańsk", "Wrocław",
        "Zielińska Małgorzata", "Poznań, ul. Święty Marcin 2", "Szczecin", "Bydgoszcz",
        "Kowalczyk Jędrzej", "Białystok", "Częstochowa", "Dąbrowski Władysław", "Rzeszów",
    ],
    "german": [
        "Müller GmbH", "Schäfer, Jürgen", "Hauptstraße 12", "München", "Köln", "Düsseldorf",
        "Größe und Gewicht", "Bäckerei Weiß", "Nürnberg", "Straße des 17. Juni", "Lübeck",
        "Göttingen", "Schröder, Käthe", "Fußgängerzone 3", "Würzburg", "Österreich",
    ],
    "french": [
        "Société Générale", "Crédit Agricole", "rue de la Paix, 12", "Besançon", "Orléans",
        "Hélène Lefèvre", "François Côté", "Château-Thierry", "Montréal", "Élodie Bérénger",
        "Noël Ménard", "boulevard Saint-Michel", "Gérard Dépardieu", "Garçon de café",
        "Thérèse Mérimée", "Angoulême",
    ],
    "spanish": [
        "José Martínez", "Peña Nieto", "Málaga", "Córdoba", "Cádiz", "Logroño", "A Coruña",
        "María Fernández", "Calle de Alcalá, 45", "Jesús Muñoz", "León", "Ávila", "Begoña Ibáñez",
        "Sebastián Gómez", "Almería", "Jaén",
    ],
    "greek": [
        "Αθήνα", "Θεσσαλονίκη", "Πάτρα", "Ηράκλειο", "Λάρισα", "Παπαδόπουλος Γεώργιος",
        "Οδός Ερμού 25", "Εθνική Τράπεζα της Ελλάδος", "Βόλος", "Ιωάννινα", "Καλαμάτα",
        "Νικολάου Μαρία", "Κωνσταντινίδης", "Ρόδος", "Χανιά", "Λεωφόρος Συγγρού 100",
    ],
    "mixed": [
        "Zürich", "Tromsø", "São Paulo", "Kraków", "Москва", "Αθήνα", "東京", "北京市",
        "서울특별시", "Ελληνικά", "Ünïcödé", "Ærøskøbing",
    ],
}

# python3-dbf: code page, language of the text.
PYDBF = [
    ("cp866", "russian"), ("cp1251", "russian"), ("cp852", "czech"), ("cp852", "polish"),
    ("cp850", "german"), ("cp850", "french"), ("cp437", "german"), ("cp1252", "french"),
    ("cp1252", "spanish"), ("cp1253", "greek"),
]
# GDAL: its ENCODING name, the code page number, language.
GDAL = [
    ("CP866", 866, "russian"), ("CP1251", 1251, "russian"), ("CP852", 852, "czech"),
    ("CP850", 850, "spanish"), ("CP437", 437, "german"), ("CP1252", 1252, "german"),
    ("CP1253", 1253, "greek"), ("UTF-8", 65001, "mixed"), ("UTF-8", 65001, "russian"),
]


def bare_copy(path):
    """NAME_bare.dbf: driver byte 0, no .cpg."""
    base = path[:-4]
    bare = base + "_bare.dbf"
    shutil.copyfile(path, bare)
    with open(bare, "r+b") as f:
        f.seek(29)
        f.write(b"\0")
    return bare


def write_pydbf(out):
    import dbf

    for codepage, language in PYDBF:
        name = os.path.join(out, "pydbf_%s_%s.dbf" % (codepage, language))
        table = dbf.Table(name, "NAME C(60); CITY C(30)", codepage=codepage, dbf_type="db3")
        table.open(dbf.READ_WRITE)
        texts = TEXTS[language]
        for i, text in enumerate(texts):
            table.append((text, texts[(i + 3) % len(texts)]))
        table.close()
        print("%s\t%d" % (bare_copy(name), int(codepage[2:])))


def write_gdal(out):
    for encoding, number, language in GDAL:
        stem = "gdal_%s_%s" % (encoding.replace("-", "").lower(), language)
        source = os.path.join(out, stem + ".csv")
        with open(source, "w", newline="", encoding="utf-8") as f:
            w = csv.writer(f)
            w.writerow(["NAME", "CITY"])
            texts = TEXTS[language]
            for i, text in enumerate(texts):
                w.writerow([text, texts[(i + 5) % len(texts)]])
        folder = os.path.join(out, stem)
        subprocess.run(["ogr2ogr", "-f", "ESRI Shapefile", folder, source, "-lco", "ENCODING=" + encoding],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        table = os.path.join(folder, stem + ".dbf")
        print("%s\t%d" % (table, number))
        print("%s\t%d" % (bare_copy(table), number))


def main():
    out = sys.argv[1]
    write_pydbf(out)
    write_gdal(out)


if __name__ == "__main__":
    main()
