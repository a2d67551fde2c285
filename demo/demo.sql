-- The demo SQLite database. One statement per line group; each statement ends with ";" at the end of a line.
CREATE TABLE regions (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL
);
CREATE TABLE sales (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  region INTEGER NOT NULL REFERENCES regions(id),
  month TEXT NOT NULL,
  amount REAL NOT NULL
);
CREATE TABLE "Stock Levels" (
  item TEXT PRIMARY KEY,
  quantity INTEGER NOT NULL
);
INSERT INTO regions (id, name) VALUES (1, 'North'), (2, 'South'), (3, 'East'), (4, 'West');
INSERT INTO sales (region, month, amount) VALUES
  (1, '1999-01', 12500.0), (2, '1999-01', 9800.5), (3, '1999-01', 7420.0), (4, '1999-01', 11030.25),
  (1, '1999-02', 13110.0), (2, '1999-02', 9020.0), (3, '1999-02', 8015.75), (4, '1999-02', 10400.0);
INSERT INTO "Stock Levels" (item, quantity) VALUES ('Hinges', 1470), ('Bolts', 9800), ('Nuts', 12000);
