# Sources of the embedded spreadsheet application, relative to this folder.
set(SHEETAPP_SOURCES
  sheetapp/sheetapp.h
  sheetapp/application.cpp
  sheetapp/matcher.cpp sheetapp/matcher_p.h
  sheetapp/numbertext.cpp sheetapp/numbertext_p.h
  sheetapp/rangeref.cpp sheetapp/rangeref_p.h
)
