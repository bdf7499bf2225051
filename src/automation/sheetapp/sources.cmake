# Sources of the embedded spreadsheet application, relative to this folder.
set(SHEETAPP_SOURCES
  sheetapp/sheetapp.h
  sheetapp/application.cpp sheetapp/application_p.h
  sheetapp/range.cpp
  sheetapp/rangeargs.cpp sheetapp/rangeargs_p.h
  sheetapp/replacequeue.cpp sheetapp/replacequeue_p.h
  sheetapp/sharedreplace.cpp sheetapp/sharedreplace_p.h
  sheetapp/cellreplace.cpp sheetapp/cellreplace_p.h
  sheetapp/cellwrite.cpp sheetapp/cellwrite_p.h
  sheetapp/typedinput.cpp sheetapp/typedinput_p.h
  sheetapp/datetext.cpp sheetapp/datetext_p.h
  sheetapp/matcher.cpp sheetapp/matcher_p.h
  sheetapp/numbertext.cpp sheetapp/numbertext_p.h
  sheetapp/rangeref.cpp sheetapp/rangeref_p.h
)
