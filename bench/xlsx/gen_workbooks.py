#!/usr/bin/python3
"""Writes the benchmark workbooks with xlsxwriter: gen_workbooks.py FOLDER

big.xlsx     one sheet, 100,000 rows x 10 columns (strings and numbers)
wide.xlsx    three sheets, 20,000 rows x 10 columns each
small_NN.xlsx  twenty workbooks of 1,000 rows x 8 columns and two sheets
"""
import os
import sys

import xlsxwriter


def write(path, sheets, rows, cols):
    wb = xlsxwriter.Workbook(path)
    for s in range(sheets):
        ws = wb.add_worksheet("Sheet%d" % (s + 1))
        for r in range(rows):
            for c in range(cols):
                if c % 2 == 0:
                    ws.write_string(r, c, "text %d-%d" % (r % 5000, c))
                else:
                    ws.write_number(r, c, r * 0.5 + c)
    wb.close()


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    write(os.path.join(folder, "big.xlsx"), 1, 100000, 10)
    write(os.path.join(folder, "wide.xlsx"), 3, 20000, 10)
    for i in range(20):
        write(os.path.join(folder, "small_%02d.xlsx" % i), 2, 1000, 8)


if __name__ == "__main__":
    main()
