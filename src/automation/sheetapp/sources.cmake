# Sources of the embedded spreadsheet application, relative to this folder.
set(SHEETAPP_SOURCES
  sheetapp/sheetapp.h
  sheetapp/application.cpp
)
