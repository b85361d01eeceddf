;; Persistence: 1,000,000 facts of a template with a string, a float and a
;; multislot are saved with save-facts, working memory is reset, and they are
;; read back with load-facts; a rule defined afterwards counts what came back.
(deftemplate item
  (slot id (type INTEGER))
  (slot name (type STRING))
  (slot weight (type FLOAT))
  (multislot tags))

(defglobal ?*count* = 0 ?*sum* = 0)

(deffunction load_items (?total)
   (bind ?k 0)
   (while (< ?k ?total) do
      (assert (item (id ?k) (name (str-cat "n" (mod ?k 977))) (weight (/ (mod ?k 1000) 4.0))
                    (tags a (mod ?k 7))))
      (bind ?k (+ ?k 1))))

(reset)
(load_items 1000000)
(save-facts "/tmp/zephro-bench-persist.clp")
(reset)
(load-facts "/tmp/zephro-bench-persist.clp")

(defrule count_item
   (item (id ?i) (weight ?w))
   =>
   (bind ?*count* (+ ?*count* 1))
   (bind ?*sum* (mod (+ ?*sum* ?i (integer (* 4 ?w))) 1000003)))
(run)
(remove "/tmp/zephro-bench-persist.clp")
(printout t "SUMMARY persist facts=1000000 loaded=" ?*count* " sum=" ?*sum* crlf)
(exit)
