-- The booking table of an installation on SQLite.
--
-- Dates are texts "YYYY-MM-DD HH:MM:SS"; BewUdt, the transfer time, also
-- carries microseconds "YYYY-MM-DD HH:MM:SS.ffffff". The key texts compare
-- like blank-padded CHAR columns (COLLATE RTRIM): a row stored with trailing
-- blanks is found again by its trimmed text, and the index below serves that
-- comparison. WAL mode lets the export read its snapshot while it marks rows.
PRAGMA journal_mode=WAL;

CREATE TABLE Zkr321Bew (
  BewTID TEXT,
  BewLID TEXT,
  BewIDN TEXT COLLATE RTRIM,
  BewSto TEXT COLLATE RTRIM,
  BewDtm TEXT,
  BewUhr TEXT,
  BewLfn TEXT COLLATE RTRIM,
  BewArt TEXT,
  BewTas TEXT,
  BewEra TEXT,
  BewKze TEXT,
  BewBer TEXT,
  BewErq TEXT,
  BewKst TEXT,
  BewQua TEXT,
  BewSrc TEXT,
  BewRes TEXT,
  BewUkz INTEGER,
  BewUdt TEXT,
  BewDat TEXT
);

CREATE INDEX Zkr321Bew_Key ON Zkr321Bew (BewIDN, BewSto, BewDtm, BewUhr, BewLfn);
