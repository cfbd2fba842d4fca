-- The booking table on PostgreSQL. The installation owns it; the program
-- never creates it. Names are unquoted, so KELDOMAR.Zkr321Bew finds it.
-- Text columns hold one character less than the program's host buffers.
CREATE SCHEMA IF NOT EXISTS keldomar;

CREATE TABLE keldomar.zkr321bew (
  bewtid varchar(255),
  bewlid varchar(5),
  bewidn varchar(50),
  bewsto varchar(8),
  bewdtm timestamp(0),
  bewuhr timestamp(0),
  bewlfn varchar(3),
  bewart varchar(3),
  bewtas varchar(2),
  bewera varchar(3),
  bewkze varchar(1),
  bewber varchar(1),
  bewerq varchar(10),
  bewkst varchar(30),
  bewqua varchar(5),
  bewsrc varchar(3),
  bewres varchar(30),
  bewukz integer,      -- 4: transferred; NULL or any other value: pending
  bewudt timestamptz,  -- when the transfer mark was set
  bewdat timestamp(0)  -- age of the booking for the purge
);

-- The key by which a run marks a fetched booking.
CREATE INDEX zkr321bew_key ON keldomar.zkr321bew (bewidn, bewsto, bewdtm, bewuhr, bewlfn);
