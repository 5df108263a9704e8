"""The whole road of a ringtone, with chimebox-headless and the simulated phone on disk, driven as
the companion app drives it. The operation documents the program wrote are read back by two
readers we did not write: Python's plistlib and plistutil.
Usage: test_road.py HEADLESS SUPPORT_ROOT BUILD_DIR linux|windows"""
import json
import plistlib
import subprocess
import sys
import unittest
from pathlib import Path

from headless import COMPANION, Run, wait_until

HEADLESS = sys.argv[1]
SUPPORT = Path(sys.argv[2])
WINDOWS = sys.argv[4] == "windows"
# Under Wine or a sanitizer build on a busy machine a whole job can take many seconds.
SLOW = 40 if WINDOWS else 30
TONE = bytes(range(256)) * 16


class RoadTest(unittest.TestCase):
    def setUp(self):
        self.run_ = Run(HEADLESS, WINDOWS)
        self.phone = self.run_.phone("00008030-ROAD", name="Road iPhone")
        (self.phone.dir / "media/iTunes_Control/iTunes").mkdir(parents=True)
        self.sync = self.phone.dir / "apps" / COMPANION / "Documents/sync"
        self.sync.mkdir(parents=True)
        self.run_.start(SUPPORT)
        self.phone.attach()
        self.assertTrue(wait_until(lambda: (self.sync / "HeartBeat").exists(), SLOW), "the phone was not taken up")

    def tearDown(self):
        self.assertEqual(self.run_.stop(), 0)
        self.run_.cleanup()

    def queue(self, kind, name, data=b""):
        folder = self.sync / kind
        folder.mkdir(exist_ok=True)
        (folder / name).write_bytes(data)

    def update(self):
        (self.sync / "UpdateRing").write_bytes(b"")
        self.assertTrue(wait_until(lambda: not (self.sync / "UpdateRing").exists(), SLOW), "the update was not served")
        # The app empties its queue folders after a job, as the program removes only the folders.
        for kind in ("add", "rm"):
            for entry in (self.sync / kind).glob("*") if (self.sync / kind).exists() else []:
                entry.unlink()

    def tracks(self):
        path = self.phone.dir / "library.json"
        return json.loads(path.read_text(encoding="utf-8"))["tracks"] if path.exists() else []

    def document(self, folder):
        return self.phone.dir / "media/iTunes_Control" / folder / "Sync/Sync_00000000.plist"

    def test_a_queued_ringtone_becomes_a_registered_track(self):
        self.queue("add", "chimes.m4r", TONE)
        self.queue("add", "晨钟 – morning", b"")
        self.update()
        tracks = self.tracks()
        self.assertEqual(len(tracks), 1, tracks)
        track = tracks[0]
        self.assertEqual(track["title"], "晨钟 – morning")
        self.assertEqual(track["sort_name"], "晨钟 – morning")
        self.assertEqual(track["path"], "/iTunes_Control/Ringtones/chimes.m4r")
        self.assertFalse(track["broken"])
        self.assertTrue(10000000 <= track["pid"] <= 10000000 + 32767)
        self.assertEqual((self.phone.dir / "media/iTunes_Control/Ringtones/chimes.m4r").read_bytes(), TONE)

        # The documents as another reader sees them.
        ringtones = plistlib.loads(self.document("Ringtones").read_bytes())
        self.assertEqual(ringtones["revision"], 0)
        self.assertEqual(ringtones["timestamp"], 0)
        (op,) = ringtones["operations"]
        self.assertEqual(op["operation"], "insert_track")
        self.assertEqual(op["pid"], track["pid"])
        self.assertEqual(op["avformat_info"], {"audio_format": 502, "bit_rate": 0, "duration": -72, "sample_rate": 0})
        self.assertEqual(op["item"], {"album_pid": 0, "artist_pid": 0, "date_created": 0, "total_time_ms": 35000,
                                      "sort_name": "晨钟 – morning", "title": "晨钟 – morning", "is_ringtone": True})
        self.assertIs(op["item"]["is_ringtone"], True)
        self.assertEqual(op["item_status"], {"play_count_recent": 0, "play_count_user": 0, "skip_count_recent": 0,
                                             "skip_count_user": 0, "has_been_played": False})
        self.assertEqual(op["location"], {"kind": "Ringtone"})
        self.assertRegex(op["ringtone_info"]["guid"], r"^87ZEPH[0-9A-F]{10}$")
        media = plistlib.loads(self.document("Media").read_bytes())
        self.assertEqual(media, {"timestamp": 0, "revision": 0, "operations": [
            {"operation": "update_db_info", "pid": 0,
             "db_info": {"audio_language": 0, "primary_container_pid": 0, "subtitle_language": 0}}]})
        self.check_with_plistutil(self.document("Ringtones"), ["insert_track", "晨钟 – morning", "<integer>-72</integer>",
                                                               "<integer>35000</integer>", "<true/>", "<false/>",
                                                               f"<integer>{track['pid']}</integer>"])
        self.check_with_plistutil(self.document("Media"), ["update_db_info", "primary_container_pid"])

    def check_with_plistutil(self, path, expected):
        # plistutil exits 0 even when it cannot read a file: its output is what counts.
        out = subprocess.run(["plistutil", "-i", str(path), "-f", "xml"], capture_output=True, text=True).stdout
        self.assertIn("<plist", out)
        for text in expected:
            self.assertIn(text, out, f"{path.name}: {text}")

    def test_queued_pids_are_deleted_and_a_catalogue_replaced(self):
        library = {"tracks": [{"pid": p, "title": f"t{p}", "sort_name": f"t{p}", "guid": "g", "kind": "Ringtone",
                               "path": f"/iTunes_Control/Ringtones/{p}.m4r", "broken": False}
                              for p in (10001111, 10002222, 4611686018427387904)]}
        (self.phone.dir / "library.json").write_text(json.dumps(library), encoding="utf-8")
        (self.phone.dir / "media/iTunes_Control/Ringtones").mkdir(parents=True)
        (self.phone.dir / "media/iTunes_Control/Ringtones/old.m4r").write_bytes(TONE)
        catalogue = plistlib.dumps({"Ringtones": {"a.m4r": {"Name": "A"}}}, fmt=plistlib.FMT_BINARY)
        self.queue("rm", "10001111.pid")
        self.queue("rm", "4611686018427387904.pid")
        self.queue("rm", "old.m4r")
        self.queue("add", "Ringtones.plist", catalogue)
        self.update()
        self.assertEqual([t["pid"] for t in self.tracks()], [10002222])
        self.assertFalse((self.phone.dir / "media/iTunes_Control/Ringtones/old.m4r").exists())
        self.assertEqual((self.phone.dir / "media/iTunes_Control/iTunes/Ringtones.plist").read_bytes(), catalogue)
        doc = plistlib.loads(self.document("Ringtones").read_bytes())
        self.assertEqual(doc["revision"], 2)
        self.assertEqual(sorted(op["pid"] for op in doc["operations"]), [10001111, 4611686018427387904])
        self.check_with_plistutil(self.document("Ringtones"), ["delete_track", "<integer>4611686018427387904</integer>"])

        # The report now shows the replacement catalogue.
        (self.sync / "GetCurrentRing").write_bytes(b"")
        self.assertTrue(wait_until(lambda: not (self.sync / "GetCurrentRing").exists(), SLOW))
        self.assertEqual((self.sync / "current/Ringtones.plist").read_bytes(), catalogue)

    def test_a_phone_unplugged_mid_job_leaves_nothing_stuck(self):
        # The phone stops answering the conversation, then is unplugged and plugged in again.
        (self.phone.dir / "ath-script").write_text("SyncAllowed\n")
        self.queue("add", "first.m4r", TONE)
        self.queue("add", "First", b"")
        (self.sync / "UpdateRing").write_bytes(b"")
        self.assertTrue(wait_until(lambda: self.phone.calls("ATHostConnectionSendSyncRequest"), SLOW))
        self.phone.detach()
        self.assertTrue(wait_until(lambda: self.phone.calls("ATHostConnectionDestroy"), SLOW))
        (self.phone.dir / "ath-script").unlink()
        self.phone.attach()
        # Served again on the new attach: the request stayed, since the phone was gone at the teardown.
        self.assertTrue(wait_until(lambda: not (self.sync / "UpdateRing").exists(), SLOW), "stuck after re-attach")
        self.assertEqual([t["title"] for t in self.tracks()], ["First"])
        self.assertEqual(len(self.phone.calls("ATHostConnectionDestroy")), 2)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
