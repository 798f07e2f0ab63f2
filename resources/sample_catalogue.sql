-- The sample catalogue: stepped-shank hexagon-head bolts M6 to M24.
-- Head sizes follow the usual hexagon-bolt tables (S across flats, K head height,
-- e across corners); d1 is the nominal size, d0 the reduced middle section, d2 the tip.
-- L2 = L/2, L3 = L/10, D = 0.95*S; angles a/b/c = 30/45/45.
-- @TEMPLATE_PATH@ is replaced with the installed part template's absolute path.
-- isp has no unique index on purpose: the add keeps its own names apart under the write
-- lock, on catalogues made before as well, and the table window lets a person give a row
-- any name, an existing one included, as catalogues without such an index always allowed.
create table "Размеры" (
  id integer primary key autoincrement,
  isp varchar(150),
  d0 double, d1 double, d2 double, D double, R double, K double,
  L double, L2 double, L3 double, a double, b double, c double, S double, e double
);
create table swApp (
  id_swApp integer primary key autoincrement,
  path_templete_detal varchar(250)
);
insert into "Размеры" (isp, d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, e) values
  ('M6x40',   5.2,  6,  4.2,  9.5,  0.25, 4,    40,  20, 4,   30, 45, 45, 10, 11.05),
  ('M8x50',   6.9,  8,  5.6, 12.35, 0.4,  5.3,  50,  25, 5,   30, 45, 45, 13, 14.38),
  ('M10x60',  8.6, 10,  7,   15.2,  0.4,  6.4,  60,  30, 6,   30, 45, 45, 16, 17.77),
  ('M10x80',  8.6, 10,  7,   15.2,  0.4,  6.4,  80,  40, 8,   30, 45, 45, 16, 17.77),
  ('M12x70', 10.4, 12,  8.4, 17.1,  0.6,  7.5,  70,  35, 7,   30, 45, 45, 18, 20.03),
  ('M12x100',10.4, 12,  8.4, 17.1,  0.6,  7.5, 100,  50, 10,  30, 45, 45, 18, 20.03),
  ('M14x80', 12.1, 14,  9.8, 19.95, 0.6,  8.8,  80,  40, 8,   30, 45, 45, 21, 23.36),
  ('M16x90', 13.8, 16, 11.2, 22.8,  0.6, 10,    90,  45, 9,   30, 45, 45, 24, 26.75),
  ('M18x100',15.5, 18, 12.6, 25.65, 0.6, 11.5, 100,  50, 10,  30, 45, 45, 27, 30.14),
  ('M20x110',17.3, 20, 14,   28.5,  0.8, 12.5, 110,  55, 11,  30, 45, 45, 30, 33.53),
  ('M22x120',19.1, 22, 15.4, 32.3,  0.8, 14,   120,  60, 12,  30, 45, 45, 34, 37.72),
  ('M24x130',20.8, 24, 16.8, 34.2,  0.8, 15,   130,  65, 13,  30, 45, 45, 36, 39.98);
insert into swApp (path_templete_detal) values ('@TEMPLATE_PATH@');
