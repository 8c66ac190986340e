-- The panel database as vornctl reads it: the tables and columns its queries
-- name, and the account it connects with. Loading it again is harmless, so
-- fixtures may source it to repair a database a test has changed.
--
-- The account "admin"@"localhost" connects with the password below; the
-- tool reads it from the first line of /etc/orq/.orq.shadow.
CREATE DATABASE IF NOT EXISTS orq;
USE orq;

-- Panel settings: "mysql41_compatible", "message_submission", ...
CREATE TABLE IF NOT EXISTS misc (
  param VARCHAR(245) NOT NULL PRIMARY KEY,
  val VARCHAR(255) NULL
);

-- One row per limit of a limit set; domains point at a set.
CREATE TABLE IF NOT EXISTS Limits (
  id INT UNSIGNED NOT NULL,
  limit_name VARCHAR(127) NOT NULL,
  value VARCHAR(255) NULL,
  PRIMARY KEY (id, limit_name)
);

CREATE TABLE IF NOT EXISTS domains (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
  name VARCHAR(255) NOT NULL UNIQUE,
  limits_id INT UNSIGNED NULL
);

CREATE TABLE IF NOT EXISTS domainaliases (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
  name VARCHAR(255) NOT NULL UNIQUE,
  dom_id INT UNSIGNED NOT NULL,
  KEY (dom_id)
);

-- Mailnames; mbox_quota in bytes, -1 for the domain's default.
CREATE TABLE IF NOT EXISTS mail (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
  mail_name VARCHAR(245) NOT NULL,
  dom_id INT UNSIGNED NOT NULL,
  mbox_quota BIGINT NULL DEFAULT -1,
  UNIQUE KEY (dom_id, mail_name)
);

CREATE TABLE IF NOT EXISTS mail_aliases (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
  mn_id INT UNSIGNED NOT NULL,
  alias VARCHAR(245) NOT NULL,
  UNIQUE KEY (mn_id, alias)
);

CREATE USER IF NOT EXISTS 'admin'@'localhost' IDENTIFIED BY 'vornctl-panel-admin';
GRANT ALL PRIVILEGES ON orq.* TO 'admin'@'localhost';

-- Automatic replies. The panel writes one row per mailbox that has an
-- autoresponder (registered with --set-autoresponder); the autoresponder
-- hook reads it for each message the mailbox receives. An empty subject
-- answers with "Re: " and the original subject; resend_interval is the time
-- in seconds within which one sender gets no second reply (0: every
-- message is answered).
CREATE TABLE IF NOT EXISTS mail_resp (
  mn_id INT UNSIGNED NOT NULL PRIMARY KEY,
  subject VARCHAR(255) NOT NULL DEFAULT '',
  text MEDIUMTEXT NOT NULL,
  content_type VARCHAR(64) NOT NULL DEFAULT 'text/plain',
  charset VARCHAR(32) NOT NULL DEFAULT 'UTF-8',
  resend_interval INT UNSIGNED NOT NULL DEFAULT 86400
);

-- Files of the mailbox's attachment store (@attachments in its mail home)
-- that its reply carries.
CREATE TABLE IF NOT EXISTS mail_resp_files (
  mn_id INT UNSIGNED NOT NULL,
  file_name VARCHAR(255) NOT NULL,
  PRIMARY KEY (mn_id, file_name)
);

-- The hook runs as the mail account popuser and reads only what a reply
-- needs, authenticated by its system account over the local socket.
CREATE USER IF NOT EXISTS 'popuser'@'localhost' IDENTIFIED VIA unix_socket;
GRANT SELECT ON orq.mail_resp TO 'popuser'@'localhost';
GRANT SELECT ON orq.mail_resp_files TO 'popuser'@'localhost';
GRANT SELECT (id, mail_name, dom_id) ON orq.mail TO 'popuser'@'localhost';
GRANT SELECT (id, name) ON orq.domains TO 'popuser'@'localhost';
